function main() {
  var db = open();
  execute(db, "drop table if exists t");
  execute(db, "drop table if exists u");
  execute(db, "create table t (n integer)");
  execute(db, "create table u (n integer)");
  for (var i = 1; i <= 4; i++) execute(db, "insert into t values (:i)");
  var seen = [];
  record_map(db, "select n from t order by n", "seen.push(%1); execute(db, 'insert into u values (' + %1 * 10 + ')'); seen.push(selectExists(db, 'select n from t where n = 3'));");
  console.log(seen, select(db, "select n from u order by n"));
  execute(db, "drop table t");
  execute(db, "drop table u");
  closeDb(db, "commit");
}
