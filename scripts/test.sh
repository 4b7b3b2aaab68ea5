#!/usr/bin/env bash
# Installs what is missing, builds the engine twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
for variant in release asan; do
  dir=build/$variant
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ "$variant" = asan ] && flags+=(-DSCRIPTCGI_SANITIZE=ON)
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $variant build"
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j "$jobs")
done
