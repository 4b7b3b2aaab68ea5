// The sample shop: the product table is made and filled on first use (and committed); requests
// are answered with query records, a summary, the shop's settings and per-stock totals.
var driver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

function openShop() {
  var db = openDb("sqlite", "libodbc.so.2", "DRIVER=" + driver + ";Database=" + dbFile);
  execute(db, "create table if not exists products (id integer primary key, name varchar(40), price double precision, stock integer)");
  if (!selectExists(db, "select id from products")) {
    execute(db, "insert into products values (:1, :2, :3, :4)",
            [[1, "りんご", 120, 30], [2, "Coffee beans", 980.5, 12], [3, "緑茶", 450, 0], [4, "Notebook", 300, 45]]);
    closeDb(db, "commit");
    db = openDb("sqlite", "libodbc.so.2", "DRIVER=" + driver + ";Database=" + dbFile);
  }
  return db;
}

// catalog(maxPrice): the products up to a price, as records for the front end.
function catalog(maxPrice) {
  var db = openShop();
  var n = selectToFront(db, "products", "select id, name, price, stock from products where price <= :maxPrice order by id");
  selectHashToFront(db, "cheapest", "select name, price from products order by price limit 1");
  sendToFront("shop", {name: shopName, currency: "JPY", listed: n});
  sendToFront("stock", sql_aggregate(db, "select stock > 0, price from products order by 1",
                                     {key: 1, count: 0, sum: 2}));
  if (n == 0) alertToFront("no products up to " + maxPrice);
  return n;
}

// restock(id, count): adds to a product's stock and commits.
function restock(id, count) {
  var db = openShop();
  var changed = execute(db, "update products set stock = stock + :count where id = :id");
  closeDb(db, "commit");
  if (changed == 0) alertToFront("no product " + id);
  return changed;
}
