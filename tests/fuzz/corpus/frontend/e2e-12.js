var s = "ab";
function main() {
console.log(s.repeat(3), s.repeat(0), s.repeat(2.7), "あ".repeat(2), "".repeat(1000000000), s.repeat(1.0));
out = "";
t(function () { return s.repeat(-1); });
t(function () { return s.repeat("2"); });
t(function () { return s.repeat(-0.5); }); console.log(out);
}
