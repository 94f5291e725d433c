#!/usr/bin/env bash
# The crash soak run, outside the default suite: writer processes change the
# six tables of one shared database at random and are killed with SIGKILL at
# random moments; after each round the database is recovered and checked.
# Usage: scripts/soak.sh [MINUTES] (default 10).  BUILD names the build
# directory (default build, configured and built here when absent), SOAK_DIR
# the directory the database lives in (default /tmp).  Prints the rounds and
# every finding (a round with findings goes on with a fresh database);
# exits 1 on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${1:-10}"
build="${BUILD:-build}"
if [ ! -x "$build/tests/lomari_soak" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target lomari_soak
fi
echo "== soak: ${minutes} minutes"
exec "$build/tests/lomari_soak" "$((minutes * 60))" "${SOAK_DIR:-/tmp}"
