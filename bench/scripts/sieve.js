// Sieve of primes.
function main() {
  var n = 2000000;
  var flags = [];
  for (var i = 0; i <= n; i++) flags.push(1);
  var count = 0;
  for (var p = 2; p <= n; p++) {
    if (flags[p] == 1) {
      count++;
      for (var q = p + p; q <= n; q += p) flags[q] = 0;
    }
  }
  console.log("sieve " + count);
}
