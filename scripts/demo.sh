#!/usr/bin/env bash
# The main job: installs what is missing, builds the engine and runs a sample request end to end as
# a web server would (CGI environment, request body on standard input), printing the response
# stream and the journal entry.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target scriptcgi >/dev/null

app=$(mktemp -d /tmp/scriptcgi-demo.XXXXXX)
trap 'rm -rf "$app"' EXIT
cp -r examples/hello/. "$app/"
cp build/release/scriptcgi "$app/"

# Request: load hello.js, define the string global name, call greet(3).
# Fields: a prefix giving the digit count, the length, the text; blocks hold fields.
body='M11210''18hello.js''S11211''14name13Ann''P18greet(3)'
echo "== request body"
printf '%s\n' "$body"
echo "== response"
(cd "$app" && printf '%s' "$body" | CONTENT_LENGTH=$(printf '%s' "$body" | wc -c) REMOTE_ADDR=127.0.0.1 ./scriptcgi)
echo
echo "== journal"
cat "$app/journal.log"
