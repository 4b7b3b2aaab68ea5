// 100k objects built into an array, then their members read in loops.
function main() {
  var list = [];
  for (var i = 0; i < 100000; i++) list.push({id: i, v: i % 13, w: i * 2});
  var s = 0;
  for (var r = 0; r < 10; r++)
    for (var i = 0; i < list.length; i++) s = (s + list[i].v * list[i].w + list[i].id) % 1000003;
  console.log("objread " + s);
}
