// Object creation and member access.
function main() {
  var sum = 0;
  for (var i = 0; i < 200000; i++) {
    var o = { x: i % 100, y: 2, z: { w: 3 } };
    o.x = o.x + o.y;
    sum = (sum + o.x + o.z.w) % 1000003;
  }
  console.log("objects " + sum);
}
