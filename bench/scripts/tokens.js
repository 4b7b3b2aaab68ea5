// A tokenizer: a switch on characters and string building.
function main() {
  var src = "";
  for (var i = 0; i < 2000; i++) src += "x" + i + " = (y + 3) * z - 42; ";
  var idents = 0, nums = 0, ops = 0, cur = "";
  for (var i = 0; i < src.length; i++) {
    var c = src.charAt(i);
    switch (c) {
      case "+": case "-": case "*": case "=": case "(": case ")": case ";": ops++; break;
      case " ": if (cur.length > 0) { if (cur.charCodeAt(0) >= 48 && cur.charCodeAt(0) <= 57) nums++; else idents++; } cur = ""; break;
      default: cur += c;
    }
  }
  console.log("tok " + idents + " " + nums + " " + ops);
}
