var s = "abc";
function main() {
out = "";
t(function () { return s.match(/b/); });
t(function () { return s.trim(1); });
t(function () { return s.charAt(1, 2); });
t(function () { return s.concat(); });
t(function () { return s.replace("a"); });
t(function () { return s.replace("a", "b", "c"); });
t(function () { return s.localeCompare(); });
t(function () { return s.localeCompare("a", "b", "c", "d"); });
t(function () { return s.localeCompare("b"); });
t(function () { return s.split(",", 1, 2); });
t(function () { return s.str_match(1, 2); }); console.log(out);
}
