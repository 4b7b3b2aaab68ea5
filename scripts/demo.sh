#!/usr/bin/env bash
# The main job: installs what is missing, builds the engine and runs the sample shop as a site
# would: lighttpd on a loopback port serves the page and the engine; headless Chromium loads the
# page, which lists the products (the first request makes and fills the SQLite database), restocks
# one, shows the change, an error and an alert. What the page shows is printed, a screenshot saved
# (build/demo/shop.png), the server stopped and the journal printed.
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target scriptcgi scriptcgi-limits >/dev/null

mkdir -p build/demo
site=$(mktemp -d /tmp/scriptcgi-demo.XXXXXX)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
deploy/make-site.sh --port "$port" "$site" >/dev/null
lighttpd -D -f "$site/lighttpd.conf" &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -rf "$site"' EXIT
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
echo "== lighttpd serves the shop at http://127.0.0.1:$port/ (site $site)"
echo
node scripts/demo-page.mjs "http://127.0.0.1:$port/" "$PWD/build/demo/shop.png"
kill "$server"
wait "$server" 2>/dev/null || true
echo
echo "== journal (one entry per request)"
cat "$site/var/journal.log"
