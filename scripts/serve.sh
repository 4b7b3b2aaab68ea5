#!/usr/bin/env bash
# Serves the sample shop with lighttpd in the foreground on 127.0.0.1:PORT (default 8080): the
# page at /, the engine at /cgi-bin/scriptcgi. The site lives in build/serve/ (or
# /var/tmp/scriptcgi-serve/ when the server's user cannot reach the work tree); its SQLite
# database is made there on the first request and kept from one run to the next.
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"
cd "$(dirname "$0")/.."
port=${1:-8080}
if ! command -v lighttpd >/dev/null || [ ! -x build/release/scriptcgi ] || [ ! -x build/release/scriptcgi-limits ]; then
  scripts/install-deps.sh
  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/release -j "$(nproc)" --target scriptcgi scriptcgi-limits >/dev/null
fi
# The server drops root to www-data, which may not reach into the work tree: then the site goes
# to /var/tmp.
site=$(deploy/make-site.sh --port "$port" build/serve 2>/dev/null) ||
  site=$(deploy/make-site.sh --port "$port" /var/tmp/scriptcgi-serve)
echo "shop: http://127.0.0.1:$port/  (site $site; Ctrl-C stops)"
exec lighttpd -D -f "$site/lighttpd.conf"
