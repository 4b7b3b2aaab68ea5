function main() {
var d = new Date(2024, 2, 5, 9, 7, 3, 45);
console.log(d.toString(), d.toDateString(), d.toTimeString());
console.log(d.toISOString(), d.toJSON(), d.toUTCString());
console.log(utc(d), d.getTimezoneOffset());
}
