function main() {
  var smallest = -2147483647 - 1;
  console.log(Math.abs(-3), Math.abs(3), Math.abs(-2.5), Math.abs("x"), Math.abs(null), Math.abs(smallest));
  console.log(Math.floor(2.7), Math.floor(-2.5), Math.ceil(2.1), Math.ceil(-2.7), Math.trunc(-2.7), Math.trunc(5));
  console.log(Math.round(2.5), Math.round(-2.5), Math.round(-2.4), Math.round(0.49));
  console.log(Math.ceil(null), Math.floor("3"), Math.round(undefined), Math.trunc([1]), Math.floor(5000000000.5));
}
