// Array push and index.
function main() {
  var a = [];
  for (var i = 0; i < 300000; i++) a.push(i % 1000);
  var sum = 0;
  for (var k = 0; k < 5; k++) {
    for (var i = 0; i < a.length; i++) sum = (sum + a[i]) % 1000003;
  }
  console.log("arrays " + a.length + " " + sum);
}
