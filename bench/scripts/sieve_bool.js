// Sieve of primes over an array of booleans, with while loops.
function main() {
  var n = 1000000, flags = [];
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
