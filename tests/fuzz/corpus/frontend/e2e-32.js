function main() {
  var db = open();
  var v = "a:b";
  console.log(select(db, "select   'x  \n\t y',\n\n  ':v', :v"));
  console.log(select(db, "select '\\:x', ':{v}'"));
  console.log(select(db, "select 'y' where 'a' = :{'a'} and 'b' = :{1, 'b'}"));
  var m = [];
  for (var i = 0; i < 256; i++) m.push(":{'" + i + "'}");
  console.log(select(db, "select 'ok' where '255' in (" + m.join(", ") + ")"));
  try { select(db, "select 'ok' where '255' in (" + m.join(", ") + ", :v)"); } catch (e) { console.log(e.name, " ", e.message); }
  try { select(db, "select :0"); } catch (e) { console.log(e.name, " ", e.message); }
  try { select(db, "select :256"); } catch (e) { console.log(e.name, " ", e.message); }
  try { select(db, "select :!"); } catch (e) { console.log(e.name, " ", e.message); }
  try { select(db, "select :{1"); } catch (e) { console.log(e.name, " ", e.message); }
}
