function main() {
  var j = "あいう", m = "aéb";
  console.log(j.charAt(0), j.charAt(2), j.charAt(3), j.charAt(-1), j.charAt(), j.charAt(1.9), j.charAt("1"));
  console.log(j.charCodeAt(1), j.charCodeAt(3), j.charCodeAt(-1), "A".charCodeAt(), m.charCodeAt(1), m.charAt(2), m.length);
  console.log("x😀y".charAt(1), "x😀y".charAt(2), "x😀y".charCodeAt(2));
}
