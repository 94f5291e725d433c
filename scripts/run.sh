#!/usr/bin/env bash
# Builds liblomari and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DLOMARI_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
./build/examples/lomari_demo
