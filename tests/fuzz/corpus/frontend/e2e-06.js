function main() {
  var db = open();
  execute(db, "create table e (t varchar(10), n integer)");
  execute(db, "insert into e values (:1, :2)", ["", ""]);
  console.log(select(db, "select t, n, n is null from e"));
}
