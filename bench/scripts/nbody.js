// Float arithmetic on object members: a small n-body simulation.
function body(x, y, z, vx, vy, vz, m) {
  return {x: x, y: y, z: z, vx: vx, vy: vy, vz: vz, m: m};
}
function energy(bs) {
  var e = 0.0;
  for (var i = 0; i < bs.length; i++) {
    var b = bs[i];
    e = e + 0.5 * b.m * (b.vx * b.vx + b.vy * b.vy + b.vz * b.vz);
    for (var j = i + 1; j < bs.length; j++) {
      var c = bs[j];
      var dx = b.x - c.x, dy = b.y - c.y, dz = b.z - c.z;
      e = e - b.m * c.m / Math.pow(dx * dx + dy * dy + dz * dz, 0.5);
    }
  }
  return e;
}
function advance(bs, dt) {
  var n = bs.length;
  for (var i = 0; i < n; i++) {
    var b = bs[i];
    for (var j = i + 1; j < n; j++) {
      var c = bs[j];
      var dx = b.x - c.x, dy = b.y - c.y, dz = b.z - c.z;
      var d2 = dx * dx + dy * dy + dz * dz;
      var mag = dt / (d2 * Math.pow(d2, 0.5));
      b.vx = b.vx - dx * c.m * mag;
      b.vy = b.vy - dy * c.m * mag;
      b.vz = b.vz - dz * c.m * mag;
      c.vx = c.vx + dx * b.m * mag;
      c.vy = c.vy + dy * b.m * mag;
      c.vz = c.vz + dz * b.m * mag;
    }
  }
  for (var k = 0; k < n; k++) {
    var p = bs[k];
    p.x = p.x + dt * p.vx;
    p.y = p.y + dt * p.vy;
    p.z = p.z + dt * p.vz;
  }
}
function main() {
  var bs = [body(0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 39.47),
            body(4.84, -1.16, -0.10, 0.606, 2.81, -0.02, 0.037),
            body(8.34, 4.12, -0.40, -1.01, 1.82, 0.008, 0.011),
            body(12.89, -15.11, -0.22, 1.08, 0.868, -0.01, 0.0017),
            body(15.37, -25.91, 0.17, 0.979, 0.594, -0.034, 0.002)];
  var e0 = energy(bs);
  for (var s = 0; s < 30000; s++) advance(bs, 0.01);
  console.log("nbody " + Math.floor(e0 * 1000000) + " " + Math.floor(energy(bs) * 1000000));
}
