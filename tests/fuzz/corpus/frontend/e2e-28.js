function main() {
console.log(Date.UTC(2024), Date.UTC(99, 11, 31, 23, 59, 59, 999), Date.UTC(1970, 0, 1), Date.UTC(2024, 1, 30));
t(function () { new Date(2024, -1, 1); });
t(function () { new Date(2024, 1.5); });
t(function () { new Date(3001, 0); });
t(function () { new Date(2024, "1"); });
t(function () { new Date(1969, 11, 31); });
t(function () { new Date(2024, 0, 0); });
t(function () { new Date(-1); });
t(function () { new Date(true); });
t(function () { new Date(null); });
t(function () { Date.UTC(2024, -1); });
t(function () { Date.UTC(); });
t(function () { Date.UTC(1, 2, 3, 4, 5, 6, 7, 8); });
t(function () { Date.now(1); });
t(function () { Date.parse(); });
t(function () { Date.foo(); });
}
