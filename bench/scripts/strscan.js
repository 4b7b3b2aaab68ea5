// String scanning: character-by-character walks over long ASCII and non-ASCII texts.
function main() {
  var ascii = "", mixed = "", other = "";
  for (var i = 0; i < 10000; i++) {
    ascii += "abcdefghij".charAt(i % 10);
    mixed += "日本語テキストabc".charAt(i % 10);
    other += "日本語テキストabd".charAt(i % 10);
  }
  var sum = 0, vowels = 0;
  for (var k = 0; k < 10; k++) {
    for (var i = 0; i < ascii.length; i++) {
      sum += ascii.charCodeAt(i);
      if (ascii.charAt(i) == "e") vowels++;
    }
  }
  // The non-ASCII text is walked until charAt runs out (its length counts differently elsewhere).
  var n = 0, kana = 0;
  for (var k = 0; k < 3; k++) {
    for (var i = 0; i < 1000000; i++) {
      var c = mixed.charAt(i);
      if (c == "") break;
      n++;
      if (mixed.charCodeAt(i) > 12000) kana++;
    }
  }
  // Two texts side by side.
  var diff = 0;
  for (var i = 0; i < 10000; i++) if (mixed.charAt(i) != other.charAt(i)) diff++;
  var words = 0, pos = mixed.indexOf("abc", 0);
  while (pos >= 0) {
    words++;
    pos = mixed.indexOf("abc", pos + 1);
  }
  var tail = "";
  for (var i = 9990; i < 10000; i++) tail += mixed.substring(i, i + 1);
  console.log("strscan " + sum + " " + vowels + " " + n + " " + kana + " " + words + " " + diff + " " + tail);
}
