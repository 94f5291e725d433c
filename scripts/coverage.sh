#!/usr/bin/env bash
# Line and branch coverage of the library (src/) and the runtime
# (runtime/src) by every test program, with clang's source-based coverage:
#   scripts/coverage.sh [build-dir]        (default build-cov)
# prints llvm-cov's per-file report and the totals of both trees; the
# merged profile stays in <build-dir>/lomari.profdata for `llvm-cov show`.
#
# Counters are kept in continuous mode (mapped into the profile file as
# they change), so a death test's child, which aborts without the usual
# write at exit, still adds what it ran to the same file.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build-cov}"
scripts/deps.sh test clang
cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=Debug -DLOMARI_COVERAGE=ON >/dev/null
cmake --build "$dir" -j"$(nproc)"
rm -rf "$dir/profiles"
mkdir -p "$dir/profiles"
LLVM_PROFILE_FILE="$PWD/$dir/profiles/%c%p-%m.profraw" ctest --test-dir "$dir" --output-on-failure >/dev/null
llvm-profdata merge -sparse "$dir"/profiles/*.profraw -o "$dir/lomari.profdata"
objects=("$dir/src/liblomari.so" -object "$dir/runtime/libqelrt.so")
for tree in src runtime/src; do
  echo "== $tree"
  llvm-cov report "${objects[@]}" -instr-profile="$dir/lomari.profdata" "$PWD/$tree" | tail -n 1 |
    awk '{ printf "lines %s of %s missed (%s), branches %s of %s missed (%s)\n", $9, $8, $10, $12, $11, $13 }'
done
