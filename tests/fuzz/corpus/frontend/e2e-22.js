var f = function () { return 1; };
function main() {
  var k = [1];
  k[5] = 2;
  try { sendToFront("k", k); } catch (e) { alertToFront(e); }
  try { sendToFront("f", f); } catch (e) { alertToFront(e.name); }
  try { sendToFront("inner", [1, [k]]); } catch (e) { alertToFront(e.name); }
  try { sendToFront(3, 1); } catch (e) { alertToFront(e.name); }
  try { alertToFront(5); } catch (e) { alertToFront(e.name); }
  var loop = [1];
  loop.push(loop);
  try { sendToFront("loop", loop); } catch (e) { alertToFront(e.name); }
  alertToFront(undefined);
}
