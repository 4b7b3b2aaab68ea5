function main() {
  var db = open();
  execute(db, "create table t (a integer, b varchar(20))");
  console.log(execute(db, "insert into t values (1, 'one')"));
  var n = 2, s = "two";
  console.log(execute(db, "insert into t values (:n, :s)"));
  console.log(execute(db, "insert into t values (:{n + 1}, :{s + '!'})"));
  console.log(execute(db, "insert into t values (:2, :1)", [["four", 4], ["five", 5]]));
  console.log(execute(db, "insert into t values (:1, :2)", [6, "six"]));
  console.log(execute(db, "insert into t values (:1, :s)", [[7], [8]]));
  console.log(execute(db, "insert into t values (:1, :2)", []));
  console.log(execute(db, "update t set b = b || '+' where a > :n"));
  console.log(execute(db, "delete from t where a > 100"));
  console.log(select(db, "select a, b from t order by a"));
}
