// Counters in an object updated through a helper by computed member names, then a for-in sum.
function inc(o, k) { o[k] = o[k] + 1; }
function main() {
  var counts = {a: 0, b: 0, c: 0, d: 0};
  var keys = ["a", "b", "c", "d"];
  for (var i = 0; i < 300000; i++) inc(counts, keys[i % 4]);
  var s = 0;
  for (var k in counts) s += counts[k];
  console.log("keyed " + s + " " + counts.a);
}
