// Collatz lengths with while and do-while loops.
function main() {
  var best = 0, at = 0;
  for (var n = 1; n < 100000; n++) {
    var x = n, len = 0;
    while (x != 1) { if (x % 2 == 0) x = x / 2; else x = 3 * x + 1; len++; }
    if (len > best) { best = len; at = n; }
  }
  var k = 0; do { k += 3; } while (k < 1000000);
  console.log("collatz " + best + " " + at + " " + k);
}
