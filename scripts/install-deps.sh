#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need; only the missing ones.
set -euo pipefail
PKGS=(build-essential cmake g++ libgtest-dev python3 locales unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql tzdata)
# The fuzz configuration: clang++ and the libFuzzer runtime.
PKGS+=(clang libclang-rt-14-dev)
# The debug front end (tools/dbg) reads and writes JSON with nlohmann-json.
PKGS+=(nlohmann-json3-dev)
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

# ---- web servers, browser and node for the deployment and client tests ----
# Services the packages would start on install (port 80) are kept from starting: the tests and
# scripts start their own servers on loopback ports.
web_pkgs=(lighttpd apache2 chromium fonts-ipafont-gothic)
command -v node >/dev/null || web_pkgs+=(nodejs)
command -v npm >/dev/null || web_pkgs+=(npm)
web_missing=()
for p in "${web_pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || web_missing+=("$p")
done
if [ ${#web_missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${web_missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  made_policy=""
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod 755 /usr/sbin/policy-rc.d && made_policy=1
  fi
  apt-get update -qq
  apt-get install -y -qq "${web_missing[@]}" >/dev/null
  [ -n "$made_policy" ] && rm -f /usr/sbin/policy-rc.d
fi
# puppeteer-core (it drives Debian's chromium; no browser download) into tests/web/node_modules.
if [ ! -d "$(dirname "$0")/../tests/web/node_modules/puppeteer-core" ]; then
  (cd "$(dirname "$0")/../tests/web" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
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
