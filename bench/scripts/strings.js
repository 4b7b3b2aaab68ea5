// String building and splitting.
function main() {
  var s = "";
  for (var i = 0; i < 100000; i++) s += "item" + (i % 100) + ",";
  var parts = s.split(",");
  var n = 0;
  for (var i = 0; i < parts.length; i++) if (parts[i] == "item7") n++;
  console.log("strings " + s.length + " " + parts.length + " " + n);
}
