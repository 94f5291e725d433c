#!/usr/bin/env bash
# Builds liblomari and passes every test, in the plain build and in the
# build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs="$(nproc)"
for variant in plain asan; do
  dir="build-ci-$variant"
  opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ "$variant" = asan ] && opts=(-DCMAKE_BUILD_TYPE=Debug -DLOMARI_SANITIZE=ON -DLOMARI_CHECKED_CODEC=ON)
  echo "== $variant build"
  cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $variant tests"
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure)
done
scripts/reliability.sh  # ThreadSanitizer build and fuzz smoke runs
