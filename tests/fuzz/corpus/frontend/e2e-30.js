function main() {
  var db = open();
  execute(db, "create table p (t varchar(30), n integer)");
  var vals = [7, -3, 2.5, Float(2), 1e-11, -1.25e7, true, false, null, undefined, NaN, "日本語テキスト"];
  for (var i = 0; i < vals.length; i++) execute(db, "insert into p (t, n) values (:{vals[i]}, :i)");
  console.log(select(db, "select t from p order by n"));
  try { execute(db, "insert into p (t) values (:{new Date(0)})"); } catch (e) { console.log(e.name); }
  var obj = {a: 1};
  try { execute(db, "insert into p (t) values (:obj)"); } catch (e) { console.log(e.name); }
  var quote = "x'); drop table p; --";
  execute(db, "insert into p (t, n) values (:quote, 99)");
  console.log(select(db, "select t from p where n = 99"), select(db, "select t from p").length);
}
