var s = "a,b";
function main() {
out = ""; t(function () { return s.split(",", 1.5); }); console.log(out);
}
