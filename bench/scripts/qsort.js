// Hand-written quicksort with recursion over one array.
function qs(a, lo, hi) {
  while (lo < hi) {
    var p = a[(lo + hi) >> 1], i = lo, j = hi;
    while (i <= j) {
      while (a[i] < p) i++;
      while (a[j] > p) j--;
      if (i <= j) { var t = a[i]; a[i] = a[j]; a[j] = t; i++; j--; }
    }
    if (j - lo < hi - i) { qs(a, lo, j); lo = i; } else { qs(a, i, hi); hi = j; }
  }
}
function main() {
  var a = [], x = 1;
  for (var i = 0; i < 200000; i++) { x = (x * 69069 + 1) % 1048576; a.push(x); }
  qs(a, 0, a.length - 1);
  var ok = 1;
  for (var i = 1; i < a.length; i++) if (a[i - 1] > a[i]) ok = 0;
  console.log("qsort " + ok + " " + a[0] + " " + a[100000]);
}
