// Calls that run on the tree (Float results), and throws caught in a loop (jumps).
function fibf(n) {
  if (n < 2) return n * 1.5;
  return fibf(n - 1) + fibf(n - 2);
}
function main() {
  var t = 0;
  for (var i = 0; i < 30000; i++) {
    try { if (i % 3 == 0) throw "x"; t = t + 1; } catch (e) { t = t + 2; }
  }
  console.log("fibf " + fibf(23) + " " + t);
}
