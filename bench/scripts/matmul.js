// Matrix multiply over arrays of arrays.
function main() {
  var n = 120, a = [], b = [], c = [];
  for (var i = 0; i < n; i++) {
    // Literals that name a variable are new arrays each time (a literal of plain values is shared).
    var ra = [i], rb = [i], rc = [i]; ra.pop(); rb.pop(); rc.pop();
    for (var j = 0; j < n; j++) { ra.push((i * j) % 7 + 0.5); rb.push((i + j) % 5 - 1.25); rc.push(0); }
    a.push(ra); b.push(rb); c.push(rc);
  }
  for (var i = 0; i < n; i++)
    for (var j = 0; j < n; j++) {
      var s = 0;
      for (var k = 0; k < n; k++) s += a[i][k] * b[k][j];
      c[i][j] = s;
    }
  var t = 0;
  for (var i = 0; i < n; i++) t += c[i][i];
  console.log("matmul " + Math.floor(t));
}
