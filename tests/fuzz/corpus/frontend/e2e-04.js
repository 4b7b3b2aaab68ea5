var s = "abc";
function main() {
out = "";
t(function () { return s.indexOf("b", 1.5); });
t(function () { return s.lastIndexOf("b", "1"); }); console.log(out);
}
