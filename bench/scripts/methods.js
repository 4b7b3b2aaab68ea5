// Method calls in a loop: String, Array and Math methods on small values.
function main() {
  var s = "the quick brown fox jumps over the lazy dog";
  var a = [3, 1, 4, 1, 5, 9, 2, 6];
  var sum = 0;
  for (var i = 0; i < 200000; i++) {
    var k = i % 40;
    sum += s.charCodeAt(k) + s.indexOf("o", k % 20) + s.substring(k, k + 3).length;
    sum += Math.abs(k - 20) + Math.max(k, 7) + Math.min(k, 30) + Math.floor(k / 3);
    a.push(k);
    sum += a.indexOf(k) + a.pop();
    sum = sum % 1000003;
  }
  console.log("methods " + sum + " " + a.join("-"));
}
