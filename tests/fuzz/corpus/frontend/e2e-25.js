function main() {
  var j = "あいうあい";
  console.log(j.includes("うあ"), j.includes("あ", 4), j.includes("い", 4), j.includes("", 99), j.includes("あ", 3.7), j.includes("う", -2), j.includes("x"));
  console.log(j.startsWith("あい"), j.startsWith("うあ", 2), j.startsWith("うあ", 2.9), j.startsWith("あ", 1), j.startsWith("", 50), j.startsWith("い", -1), j.startsWith("あいうあいう"));
  console.log(j.endsWith("あい"), j.endsWith("う", 3), j.endsWith("う", 3.9), j.endsWith("あ", "x"), j.endsWith("あいう", 2), j.endsWith("", 0), j.endsWith("い", 99), j.endsWith("あ", -1));
}
