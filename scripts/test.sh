#!/usr/bin/env bash
# Builds liblomari and passes every test, in the plain build and in the
# build with AddressSanitizer and UndefinedBehaviorSanitizer (GCC, every
# warning an error).  After the
# plain build's tests it installs that build into a temporary prefix and
# builds and runs the user project (examples/user-project) against it, once
# through CMake's find_package and once through pkg-config, runs the
# installed tool, and checks the README's tour against the tool's output.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
jobs="$(nproc)"

check_installed() {
  local build="$1" prefix work
  prefix="$(mktemp -d)"
  work="$(mktemp -d)"
  echo "== installed package: cmake --install $build --prefix $prefix"
  cmake --install "$build" --prefix "$prefix" >/dev/null
  cp -r examples/user-project/. "$work/"
  echo "== user project with find_package(lomari)"
  cmake -S "$work" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/build" >/dev/null
  for example in roundtrip sender_receiver table; do "$work/build/$example"; done
  echo "== installed tool, schema and headers"
  "$prefix/bin/lomari" types | tail -1
  "$prefix/bin/lomari" schema | cmp - "$prefix/share/lomari/lomari.xsd"
  if ls "$prefix"/include/qel/rt_control* >/dev/null 2>&1; then
    echo "test-only headers installed: $(ls "$prefix"/include/qel/rt_control*)"
    exit 1
  fi
  echo "== user project with pkg-config"
  local pcdir
  pcdir="$(dirname "$(find "$prefix" -name lomari.pc)")"
  local flags
  flags="$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs lomari)"
  local libdir
  libdir="$(PKG_CONFIG_PATH="$pcdir" pkg-config --variable=libdir lomari)"
  # shellcheck disable=SC2086
  cc -std=c11 -Wall -Wextra -Werror -o "$work/roundtrip-pc" "$work/roundtrip.c" \
     $flags -Wl,-rpath,"$libdir"
  "$work/roundtrip-pc"
  rm -rf "$prefix" "$work"
}

passed=0 skipped=0
for variant in plain asan; do
  dir="build-ci-$variant"
  opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOMARI_WERROR=ON)
  [ "$variant" = asan ] && opts=(-DCMAKE_BUILD_TYPE=Debug -DLOMARI_SANITIZE=ON -DLOMARI_CHECKED_CODEC=ON -DLOMARI_WERROR=ON)
  echo "== $variant build"
  cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $variant tests"
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs") |
    tee "$dir/ctest.log"
  total="$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$dir/ctest.log")"
  skip="$(grep -c '(Skipped)' "$dir/ctest.log" || true)"
  passed=$((passed + total - skip))
  skipped=$((skipped + skip))
  if [ "$variant" = plain ]; then
    check_installed "$dir"
    echo "== the README's tour"
    python3 scripts/check_tour.py README.md "$dir/tools"
  fi
done
scripts/reliability.sh  # ThreadSanitizer build and fuzz smoke runs
echo "totals: $passed passed, 0 failed, $skipped skipped"
