function main() {
  var k = "  k  ";
  var k2 = k.trim();
  console.log(" \t\r\n x y \n\t".trim(), k.trimStart(), k.trimEnd(), k.trimLeft(), k.trimRight(), k, k2);
  console.log("　x".trim(), "".trim(), "   ".trim(), "x".trim(), (" a" + "b ").trim().concat("!"));
}
