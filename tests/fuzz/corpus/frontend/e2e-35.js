function main() {
  db = items();
  try { execute(db, "insert into items (id, name) values (:1, :3)", [[1, 2]]); } catch (e) { console.log(e.name); }
  try { execute(db, "insert into items (id) values (:1)"); } catch (e) { console.log(e.name); }
  try { execute(db, "select * from items"); } catch (e) { console.log(e.name); }
  try { execute(db, " 
 Sel * from items"); } catch (e) { console.log(e.name); }
  try { execute(db, "insert into items (id) values (:1)", 5); } catch (e) { console.log(e.name); }
  try { execute(db, "insert into items (id) values (:1)", [[1], 2]); } catch (e) { console.log(e.name); }
  try { execute(db, "insert into items (id) values (:1)", [[{}]]); } catch (e) { console.log(e.name); }
  try { execute(db, "insert into items (id) values (:{[1]})"); } catch (e) { console.log(e.name); }
  try { select(db, "select * from items where id = :1"); } catch (e) { console.log(e.name); }
  try { select(db, "delete from items"); } catch (e) { console.log(e.name); }
  try { select(db, "with x as (select 1) select * from x"); } catch (e) { console.log(e.name); }
  try { execute(db, 42); } catch (e) { console.log(e.name); }
  try { execute("db", "delete from items"); } catch (e) { console.log(e.name); }
  console.log(select(db, "select id from items").length);
}
