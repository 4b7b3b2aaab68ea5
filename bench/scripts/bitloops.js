// Nested integer loops with % and ^.
function main() {
  var total = 0;
  for (var i = 0; i < 3000; i++) {
    for (var j = 0; j < 1000; j++) {
      total = (total + ((i ^ j) % 17) * (j % 7)) % 1000003;
    }
  }
  console.log("bitloops " + total);
}
