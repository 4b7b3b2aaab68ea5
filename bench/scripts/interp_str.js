// An interpreter loop over objects, switching on a string member.
function run(prog, n) {
  var acc = 0, pc = 0, steps = 0;
  while (steps < n) {
    var ins = prog[pc];
    switch (ins.op) {
      case "add": acc = acc + ins.arg; break;
      case "mul": acc = (acc * ins.arg) % 1000003; break;
      case "sub": acc = acc - ins.arg; break;
      default: acc = acc ^ ins.arg;
    }
    pc = pc + 1;
    if (pc == prog.length) pc = 0;
    steps++;
  }
  return acc;
}
function main() {
  var prog = [{op: "add", arg: 3}, {op: "mul", arg: 7}, {op: "sub", arg: 1}, {op: "xor", arg: 5}, {op: "add", arg: 11}];
  console.log("interp_str " + run(prog, 1000000));
}
