function main() {
  var bad = "aøbcdÃe", lone = "€x", cut = "xã", c2 = "Ãe";
  console.log(bad.charAt(1), bad.charAt(2), bad.charCodeAt(1), bad.substring(2), lone.charAt(1), cut.charAt(1), c2.charCodeAt(0), c2.charAt(0), c2.charAt(1), bad.indexOf("e"));
  console.log(bad.split(""), "a€b".replace(/b/, "X"), "Ã©€b".replace(/b/, "X"), "Ã©€b".split(/€/), "Ã©€b".search(/b/));
}
