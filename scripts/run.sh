#!/usr/bin/env bash
# Builds liblomari and runs its main job, the demo: one object created,
# filled, encoded, decoded and compared, then the domain's types.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=Release -DLOMARI_TESTS=OFF >/dev/null
echo "building the demo (log: build-run/build.log)"
cmake --build build-run --target lomari_demo -j"$(nproc)" >build-run/build.log 2>&1 ||
  { cat build-run/build.log; exit 1; }
./build-run/examples/lomari_demo
