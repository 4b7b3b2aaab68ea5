function main() {
  var two = 2.5 - 0.5;
  console.log(Math.pow(2, 10), Math.pow(2, 0.5), Math.pow(2, -1), Math.pow(-2, 3), Math.pow(3, two), Math.pow(1.5, 2));
  console.log(Math.pow(0, -1), Math.pow(0, 0), Math.pow(7, 0), Math.pow(-8, 0.5), Math.pow("2", 2), Math.pow(2, null));
  console.log(Math.pow(2, 31), Math.pow(10, 10));
}
