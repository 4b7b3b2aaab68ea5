#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need; only the missing ones.
set -euo pipefail
PKGS=(build-essential cmake g++ libgtest-dev python3 locales unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql tzdata)
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
