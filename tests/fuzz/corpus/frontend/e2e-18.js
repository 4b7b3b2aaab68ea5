function main() {
  var j = "あいうえお";
  console.log(j.substring(1, 2), j.substring(3, 1), j.substring(-5, 99), j.substring(2), j.substring("1", 2), j.substring(4, 4));
  console.log(j.substr(1, 2), j.substr(-2), j.substr(-9, 2), j.substr(3, 10), j.substr(1, 0), j.substr(9), j.substr(1, "2"));
  console.log(j.slice(-1), j.slice(1, -1), j.slice(3, 1), j.slice(-99, 2), j.slice(2, 99), j.slice(9), j.slice(1, -9));
}
