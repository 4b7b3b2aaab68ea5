// A small application module: the front end calls greet(count) with a parameter "name".
var greetings = ["Hello", "こんにちは", "Bonjour"];

function greet(count) {
  var lines = [];
  for (var i = 0; i < count; i++) {
    lines.push(greetings[i % greetings.length] + ", " + name + "!");
  }
  console.log(lines);
  if (count > 10) throw "too many greetings";
  return lines.length;
}
