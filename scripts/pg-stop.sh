#!/usr/bin/env bash
# Stops the throw-away PostgreSQL server of scripts/pg-start.sh and removes its directory.
set -euo pipefail
state=${SCRIPTCGI_PG_STATE:-/tmp/scriptcgi-pg}
[ -d "$state" ] || exit 0
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
exec 9>"$state/lock"
flock 9
if [ -n "$bindir" ] && [ -d "$state/data" ]; then
  if [ "$(id -u)" = 0 ]; then
    runuser -u postgres -- "$bindir/pg_ctl" -D "$state/data" -m fast -w stop >/dev/null 2>&1 || true
  else
    "$bindir/pg_ctl" -D "$state/data" -m fast -w stop >/dev/null 2>&1 || true
  fi
fi
rm -rf "$state/data" "$state/port" "$state/server.log" "$state/initdb.log"
