#!/usr/bin/env bash
# Installs what is missing, builds the engine twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds. A throw-away PostgreSQL server
# is started for the database tests (SCRIPTCGI_PG_CONN) and stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export SCRIPTCGI_PG_STATE=${SCRIPTCGI_PG_STATE:-/tmp/scriptcgi-pg-test.$$}
trap 'scripts/pg-stop.sh >/dev/null 2>&1 || true; rm -rf "$SCRIPTCGI_PG_STATE"' EXIT
SCRIPTCGI_PG_CONN=$(scripts/pg-start.sh)
export SCRIPTCGI_PG_CONN
jobs=$(nproc)
for variant in release asan; do
  dir=build/$variant
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCRIPTCGI_TREE_SWITCH=ON)
  [ "$variant" = asan ] && flags+=(-DSCRIPTCGI_SANITIZE=ON)
  command -v ccache >/dev/null && flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $variant build"
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j "$jobs")
done

# The fuzz configuration (clang++, the whole project built with the sanitizers and the fuzzer's
# instrumentation): each fuzz target runs for its bounded time and fails on any finding.
fuzz_flags=(-DSCRIPTCGI_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo)
command -v ccache >/dev/null && fuzz_flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build/fuzz "${fuzz_flags[@]}" >/dev/null
cmake --build build/fuzz -j "$jobs"
echo "== tests: fuzz targets"
(cd build/fuzz && ctest -L fuzz --output-on-failure -j "$jobs")
