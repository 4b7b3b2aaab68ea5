function main() {
  var k = [];
  k[0] = 1;
  k[2] = 2;
  k["x"] = 3;
  console.log(Object.keys({a: 1, b: 2}), Object.keys([4, 5, 6]), Object.keys(k), Object.keys([]), Object.keys({}));
}
