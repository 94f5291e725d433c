#!/usr/bin/env bash
# Builds liblomari and its command-line tool and runs the main job:
# `lomari demo`, the platform's work end to end (messages sent and
# received, the six tables filled, looked up, walked, counted and shown).
# Its options go to the demo: `scripts/run.sh --processes [--db NAME]` runs
# the senders, the receiver and the reader as separate processes around a
# shared database (kept under NAME for `lomari db`).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=Release -DLOMARI_TESTS=OFF >/dev/null
echo "building the library and the lomari tool (log: build-run/build.log)"
cmake --build build-run --target lomari_tool -j"$(nproc)" >build-run/build.log 2>&1 ||
  { cat build-run/build.log; exit 1; }
./build-run/tools/lomari demo "$@"
