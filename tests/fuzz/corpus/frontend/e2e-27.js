function main() {
  var db = sales();
  var q = "select shop, kind, n from sales";
  show(db, q, {total: 3});
  show(db, q, {key: 1});
  show(db, q, {});
  show(db, q, [1]);
  show(db, q, {sum: 3}, ["x"]);
  show(db, q, {group: 2, sum: 3}, "x");
  show(db, q, {group: 2, sum: 3}, [{}]);
  show(db, q, {kind: 1});
  show(db, q, {sum: 0});
  show(db, q, {sum: "1"});
  show(db, q, {sum: 4});
  show(db, q, {key: 9, sum: 1});
  var many = [];
  for (var i = 0; i < 512; i++) many.push(1);
  show(db, q, {key: many, sum: 1});
  show(db, q, {sum: many});
  show(db, "select n from sales where id = :1", {sum: 1});
  show(db, "delete from sales", {sum: 1});
}
