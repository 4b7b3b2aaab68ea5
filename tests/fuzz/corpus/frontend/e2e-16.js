var s = "abc";
function main() {
out = "";
t(function () { return s.includes("a", "1"); });
t(function () { return s.includes(1); });
t(function () { return s.includes(1, "x"); });
t(function () { return s.startsWith("a", null); });
t(function () { return s.startsWith(null); });
t(function () { return s.endsWith(5); });
t(function () { return s.endsWith("c", "x"); }); console.log(out);
}
