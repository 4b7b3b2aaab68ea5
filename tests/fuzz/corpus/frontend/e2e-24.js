function main() {
  var bad = ["DRIVER=/no/such/driver.so", "DRIVER=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so;Database=/tmp/x/app.db;encode=" + "u".repeat(38)];
  for (var i = 0; i < bad.length; i++) {
    try { openDb("sqlite", "libodbc.so.2", bad[i]); } catch (e) {
      var m = e.message;
      console.log(e.name, " ", m.substring(0, m.indexOf(" : ") + 3), m.indexOf("
status=") > 0);
    }
  }
  var ok = openDb("sqlite", "libodbc.so.2", "DRIVER=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so;Database=/tmp/x/app.db;Encode=utf8");
  console.log(select(ok, "select 'ok'"));
}
