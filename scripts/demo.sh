#!/usr/bin/env bash
# The main job: installs what is missing, builds the engine and runs the sample shop end to end as
# a web server would (CGI environment, request body on standard input): a first request makes and
# fills its SQLite database and answers with query records; a second one, in a new process,
# restocks a product and commits; a third lists again and shows the change.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target scriptcgi >/dev/null

app=$(mktemp -d /tmp/scriptcgi-demo.XXXXXX)
trap 'rm -rf "$app"' EXIT
cp -r examples/shop/. "$app/"
cp build/release/scriptcgi "$app/"

# A request body: M (modules) and P (the top-function call), each field a prefix giving the digit
# count, the length and the text.
plain() { local n=${#1}; printf '%d%d%s' "${#n}" "$n" "$1"; }
request() {
  local modules call body
  modules=$(plain "$(plain shop.js)")
  call=$(plain "$1")
  body="M11${modules}P${call}"
  echo "== request: $1"
  printf '%s\n' "$body"
  echo "== response"
  (cd "$app" && printf '%s' "$body" | CONTENT_LENGTH=$(printf '%s' "$body" | wc -c) REMOTE_ADDR=127.0.0.1 ./scriptcgi)
  echo
}
request 'catalog(500)'
request 'restock(3, 20)'
request 'catalog(1000)'
echo "== journal"
cat "$app/journal.log"
