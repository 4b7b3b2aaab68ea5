// Sort with a script comparator and without one.
function main() {
  var a = [];
  var b = [];
  var x = 12345;
  for (var i = 0; i < 100000; i++) {
    x = (x * 1103 + 12345) % 65536;
    a.push(x);
    b.push(x);
  }
  a.sort(function (p, q) { return p - q; });
  var ok = 1;
  for (var i = 1; i < a.length; i++) if (a[i - 1] > a[i]) ok = 0;
  b.sort();
  console.log("sort " + ok + " " + a[0] + " " + a[50000] + " " + a[99999] + " " + b[0] + " " + b[99999]);
}
