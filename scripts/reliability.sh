#!/usr/bin/env bash
# The builds scripts/test.sh adds after the plain and sanitized suites,
# both with clang and every warning an error:
#  - ThreadSanitizer (-DLOMARI_TSAN=ON): the thread test and the corpus
#    replays, counters exact and no race reported;
#  - libFuzzer (clang, -DLOMARI_FUZZ=ON): every fuzz target a short run
#    (FUZZ_SECONDS each, default 15) from its kept corpus; new inputs go to
#    a scratch directory, a finding fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh clang
jobs="$(nproc)"
seconds="${FUZZ_SECONDS:-15}"

echo "== tsan build"
cmake -S . -B build-ci-tsan -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOMARI_TSAN=ON -DLOMARI_WERROR=ON >/dev/null
cmake --build build-ci-tsan -j"$jobs"
echo "== tsan tests"
export TSAN_OPTIONS="halt_on_error=1 exitcode=66"
build-ci-tsan/tests/lomari_tests --gtest_brief=1 --gtest_filter='Threads.*:Ops/Sweep.*'
for t in unmarshal message xml ops record record_xml; do
  "build-ci-tsan/fuzz/lomari_${t}_replay" "fuzz/corpus/$t"
done

echo "== fuzz build"
cmake -S . -B build-ci-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DLOMARI_FUZZ=ON -DLOMARI_TESTS=OFF -DLOMARI_WERROR=ON >/dev/null
cmake --build build-ci-fuzz -j"$jobs"
echo "== fuzz smoke runs (${seconds}s each)"
for t in unmarshal message xml ops record record_xml; do
  scratch="$(mktemp -d)"
  corpus=()
  [ -d "fuzz/corpus/$t" ] && corpus=("fuzz/corpus/$t")
  "build-ci-fuzz/fuzz/lomari_${t}_fuzz" "$scratch" "${corpus[@]}" -max_total_time="$seconds" \
    -artifact_prefix="$scratch/" 2>&1 | grep -E '^#[0-9]+[[:space:]]+DONE|ERROR|check failed' || true
  if ls "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* >/dev/null 2>&1; then
    echo "fuzz target $t found an input that fails: $(ls "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* 2>/dev/null)"
    exit 1
  fi
  rm -rf "$scratch"
done
