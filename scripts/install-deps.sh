#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need; only the missing ones.
set -euo pipefail
PKGS=(build-essential cmake g++ libgtest-dev python3 locales unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql tzdata)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# psqlODBC logs under its driver-wide CommLog and Debug settings whatever a connection string
# says (its closing lines come after the connection's own setting ends), one file per process in
# /tmp; Debian's odbcinst.ini turns CommLog on. Both are turned off in the PostgreSQL sections.
ini=/etc/odbcinst.ini
if [ -f "$ini" ] && [ -w "$ini" ]; then
  awk '/^[ \t]*\[/ { pg = tolower($0) ~ /postgresql/ }
       pg && /^[ \t]*(CommLog|Debug)[ \t]*=/ { sub(/=.*/, "=0") }
       { print }' "$ini" >"$ini.new"
  if cmp -s "$ini" "$ini.new"; then rm -f "$ini.new"; else cat "$ini.new" >"$ini" && rm -f "$ini.new"; fi
fi
