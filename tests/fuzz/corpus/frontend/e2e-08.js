function main() {
  var three = 3.5 - 0.5;
  console.log(Math.max(1, 2.5, 2), Math.min(3, three), Math.min(three, 3), Math.max(-1), Math.min(4, -7, 2, -7.0));
  console.log(Math.max(1, "2"), Math.min(null, 1), Math.max(5, 6, [7]));
}
