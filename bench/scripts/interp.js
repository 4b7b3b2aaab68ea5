// A switch-dispatched interpreter loop over a small program of integer operations.
function run(code, n) {
  var acc = 0, x = 0, pc = 0, steps = 0;
  while (steps < n) {
    var op = code[pc];
    switch (op) {
      case 0: acc = acc + x; break;
      case 1: x = (x * 3 + 1) % 1000; break;
      case 2: acc = acc % 1000003; break;
      case 3: if (acc % 2 == 0) x = x + 7; else x = x + 3; break;
      default: acc = acc ^ x; break;
    }
    pc = pc + 1;
    if (pc == code.length) pc = 0;
    steps = steps + 1;
  }
  return acc;
}
function main() {
  var code = [1, 0, 3, 4, 0, 2, 1, 3, 0, 2];
  console.log("interp " + run(code, 2000000));
}
