// The round-trip module of the web tests: sends back what it is given.

// The parameters of the round trip: scalars, containers, and a keyed array (which goes back as
// its keys and values, since a keyed array is no front-end value).
function echo() {
  sendToFront("text", text);
  sendToFront("empty", empty);
  sendToFront("japanese", japanese);
  sendToFront("symbols", symbols);
  sendToFront("caret", caret);
  sendToFront("int", int);
  sendToFront("negative", negative);
  sendToFront("big", big);
  sendToFront("real", real);
  sendToFront("list", list);
  sendToFront("nested", nested);
  var ks = keyed.keys();
  var vs = [];
  for (var i = 0; i < ks.length; i++) vs.push(keyed[ks[i]]);
  sendToFront("keyed", [ks, vs]);
  alertToFront("done " + japanese);
  return 0;
}

// The client address as the engine sees it.
function whoami() {
  sendToFront("client", client_ip);
  return 0;
}

// A request of the load test: a little work, a line in the journal, one value back.
function work(n) {
  var sum = 0;
  for (var i = 0; i < 200; i++) sum += i * n;
  console.log("work " + n + " " + sum);
  sendToFront("sum", sum);
  return sum;
}

// A run-away request, and one that asks for ever more memory.
function spin() {
  while (true) {}
}

function hog() {
  var s = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  var all = [];
  while (true) {
    s = s + s;
    all.push(s);
  }
}

function fail() {
  throw "失敗しました";
}
