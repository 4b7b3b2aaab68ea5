function main() {
var d = new Date(2024, 0, 31, 10, 20, 30, 400);
console.log(d.setDate(15), d, d.getDay());
console.log(d.setFullYear(2025, 0, 31), d, d.getDay());
console.log(d.setMonth(1), d, d.getDay());
console.log(d.setHours(23, 59, 59, 999), d);
console.log(d.setMinutes(61), d, d.getDay());
console.log(d.setSeconds(5, 1500), d);
console.log(d.setMilliseconds(7), d);
console.log(d.setTime(86400000), d, d.getDay());
console.log(d.setTime(1500.7), d);
}
