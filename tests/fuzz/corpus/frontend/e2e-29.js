function main() {
  console.log(parseInt("  42px"), parseInt("0x1F"), parseInt("1F", 16), parseInt("0x1F", 16), parseInt("z"), parseInt("7", 1));
  console.log(parseInt("	-17 "), parseInt("+5"), parseInt("-0x10"), parseInt("z", 36), parseInt("Zz", 36), parseInt("08"), parseInt("1e3"));
  console.log(parseInt("12", 266), parseInt("11", 258), parseInt("11", 255), parseInt("10", "16"), parseInt("10", 37));
  console.log(parseInt(3.9), parseInt(null), parseInt(""), parseInt("-"), parseInt("0x"), parseInt("+-1"), parseInt());
  console.log(parseInt("4294967297"), parseInt("2147483648"), parseInt("-2147483648"));
  console.log(Number.parseInt("ff", 16), Number.parseInt(" 0X7f "), Number.parseInt("101", 2), Number.parseInt([12]));
}
