// Sieve of primes over an array of booleans, with while loops.
function main() {
  // Naming n makes the literal a new array (a literal of plain values is one shared value).
  var n = 1000000, flags = [n];
  flags.pop();
  for (var i = 0; i <= n; i++) flags.push(true);
  var count = 0, p = 2;
  while (p <= n) {
    if (flags[p]) {
      count++;
      var q = p * 2;
      while (q <= n) { flags[q] = false; q += p; }
    }
    p++;
  }
  console.log("sieve_bool " + count);
}
