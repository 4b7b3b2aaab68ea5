// Exceptions thrown from a called function and caught in a loop.
function check(i) { if (i % 7 == 0) throw "bad" + i; return i * 2; }
function main() {
  var sum = 0, errs = 0;
  for (var i = 0; i < 300000; i++) {
    try { sum = (sum + check(i)) % 1000003; } catch (e) { errs++; }
  }
  console.log("try " + sum + " " + errs);
}
