function main() {
  var a = open();
  execute(a, "create table t (n integer)");
  execute(a, "commit");
  closeDb(a, "commit");
}
