var d;
function main() {
d = new Date(2024, 0, 31, 10, 20, 30, 400);
t(function () { d.setMilliseconds(1000); });
t(function () { d.setMilliseconds(-1); });
t(function () { d.setMonth("a"); });
t(function () { d.setFullYear(2024.5); });
t(function () { d.setDate(null); });
t(function () { d.setHours(true); });
t(function () { d.setMinutes("1"); });
t(function () { d.setSeconds(1.5); });
t(function () { d.setTime("0"); });
t(function () { d.setDate(0); });
t(function () { d.setFullYear(1969); });
t(function () { d.setMonth(-1); });
t(function () { d.setTime(-1); });
t(function () { d.setFullYear(40000); });
t(function () { d.getDate(1); });
t(function () { d.setDate(); });
t(function () { d.setDate(1, 2); });
t(function () { d.setMonth(1, 2, 3); });
t(function () { d.setHours(1, 2, 3, 4, 5); });
t(function () { d.foo(); });
console.log(d);
d = new Date(1970, 0, 1);
t(function () { d.setHours(-1); });
console.log(d);
}
