// Building strings through arrays and join, then splitting and counting.
function main() {
  var total = 0;
  for (var r = 0; r < 20; r++) {
    // A literal of plain values is one shared value: naming r makes a new array each round.
    var parts = [r]; parts.pop();
    for (var i = 0; i < 5000; i++) parts.push("k" + i + "=" + (i * r % 97));
    var s = parts.join("&");
    var back = s.split("&");
    for (var i = 0; i < back.length; i++) {
      var kv = back[i].split("=");
      if (kv[1] == "5") total++;
    }
    total += s.length % 1000;
  }
  console.log("join " + total);
}
