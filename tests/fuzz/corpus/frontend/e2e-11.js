function main() {
  console.log(parseFloat("3.5kg"), parseFloat("abc"), parseFloat("3"), parseFloat("  -1.25e2x"), parseFloat(".5"), parseFloat("	 7 "));
  console.log(parseFloat(2), parseFloat(""), parseFloat("-"), parseFloat(null), Number.parseFloat("1.5"), Number.parseFloat("+0.25"));
}
