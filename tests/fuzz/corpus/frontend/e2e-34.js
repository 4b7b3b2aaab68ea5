var seen = [];
function firstBig(db) {
  record_map(db, "select id, price from items order by id", "if (%2 > 2) return %1; seen.push(%1);");
  return -1;
}
function main() {
  var db = items();
  var total = 0;
  var code = 'total += %3; seen.push(%0); console.log(%1 \\% 2, " ", %2, " 100%", "%x");';
  record_map(db, "select id, name, price from items where id < :{3} order by id", code);
  console.log(total, seen);
  seen = [];
  console.log(firstBig(db), seen);
  try { record_map(db, "select id, name from items", "console.log(%3);"); } catch (e) { console.log(e.name); }
  try { record_map(db, "select id from items", "console.log(% 1);"); } catch (e) { console.log(e.name); }
  try { record_map(db, "select id from items", 5); } catch (e) { console.log(e.name); }
  try { record_map(db, "select id from items", " ; "); } catch (e) { console.log(e.name); }
  try { record_map(db, "select id from items order by id", "if (%1 == 2) throw 'stop'; console.log(%1);"); }
  catch (e) { console.log(e); }
  console.log(_c__o__l__m_);
}
