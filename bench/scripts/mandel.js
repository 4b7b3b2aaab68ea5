// Float arithmetic in locals: escape counts of a Mandelbrot grid.
function escape(cr, ci, limit) {
  var zr = 0.0, zi = 0.0, n = 0;
  while (n < limit && zr * zr + zi * zi <= 4.0) {
    var t = zr * zr - zi * zi + cr;
    zi = 2.0 * zr * zi + ci;
    zr = t;
    n++;
  }
  return n;
}
function main() {
  var total = 0;
  for (var y = 0; y < 200; y++) {
    for (var x = 0; x < 200; x++) {
      total = total + escape(x / 100.0 - 1.5, y / 100.0 - 1.0, 100);
    }
  }
  console.log("mandel " + total);
}
