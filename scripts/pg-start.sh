#!/usr/bin/env bash
# Starts a throw-away PostgreSQL server on a loopback port in a temporary directory and prints the
# ODBC connection string for it. Installs nothing; run scripts/install-deps.sh first.
# A second call while the server runs prints the same connection string again.
# State (data directory, port) is kept under $SCRIPTCGI_PG_STATE (default /tmp/scriptcgi-pg).
set -euo pipefail
state=${SCRIPTCGI_PG_STATE:-/tmp/scriptcgi-pg}
psqlodbc=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
  echo "pg-start: PostgreSQL server binaries not found (install the postgresql package)" >&2
  exit 2
fi
if [ ! -f "$psqlodbc" ]; then
  echo "pg-start: $psqlodbc not found (install the odbc-postgresql package)" >&2
  exit 2
fi

# The server refuses to run as root: run it as the packaged 'postgres' account then.
as_owner() {
  if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

conn_string() {
  echo "DRIVER=$psqlodbc;Server=127.0.0.1;Port=$1;Database=scriptcgi;Uid=scriptcgi;Pwd=;"
}

mkdir -p "$state"
exec 9>"$state/lock"
flock 9   # concurrent starts wait for each other

if [ -f "$state/port" ] && [ -d "$state/data" ] && as_owner "$bindir/pg_ctl" -D "$state/data" status >/dev/null 2>&1; then
  conn_string "$(cat "$state/port")"
  exit 0
fi

rm -rf "$state/data" "$state/port" "$state/server.log"
mkdir -p "$state/data"
[ "$(id -u)" = 0 ] && chown postgres: "$state" "$state/data"

# A free loopback port chosen by the kernel.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

as_owner "$bindir/initdb" -D "$state/data" -U scriptcgi --auth=trust -E UTF8 --locale=C.UTF-8 --no-sync >"$state/initdb.log" 2>&1 ||
  { cat "$state/initdb.log" >&2; exit 1; }
# Loopback TCP only, socket in the state directory, no fsync: the data is thrown away.
as_owner "$bindir/pg_ctl" -D "$state/data" -l "$state/server.log" -w -t 60 \
  -o "-c listen_addresses=127.0.0.1 -p $port -k $state -c fsync=off -c full_page_writes=off" start >/dev/null 9>&- ||
  { cat "$state/server.log" >&2; exit 1; }
as_owner "$bindir/createdb" -h 127.0.0.1 -p "$port" -U scriptcgi -E UTF8 scriptcgi
echo "$port" >"$state/port"
conn_string "$port"
