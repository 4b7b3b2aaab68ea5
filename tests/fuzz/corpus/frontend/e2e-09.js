var inner = [3, 1, 2];
function nest(a, b) { inner.sort(); return a - b; }
function main() {
  var g = [2, 1];
  try { g.sort(function (a, b) { throw "stop"; }); } catch (e) { console.log(e); }
  console.log(g, [9, 8].sort(nest), inner);
}
