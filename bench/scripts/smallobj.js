// Calls that build and read small objects.
function point(x, y) { return {x: x, y: y}; }
function add(a, b) { return point(a.x + b.x, a.y + b.y); }
function main() {
  var acc = point(0, 0);
  for (var i = 0; i < 300000; i++) {
    var p = point(i % 100, i % 7);
    acc = add(acc, p);
    if (acc.x > 1000000) acc = point(acc.x % 1000, acc.y);
  }
  console.log("smallobj " + acc.x + " " + acc.y);
}
