// Nested integer loops.
function main() {
  var total = 0;
  for (var i = 0; i < 3000; i++) {
    for (var j = 0; j < 1000; j++) {
      total = (total + i * j) % 1000003;
    }
  }
  console.log("loops " + total);
}
