#!/usr/bin/env bash
# Builds liblomari and passes every test, in the plain build and in the
# build with AddressSanitizer and UndefinedBehaviorSanitizer (GCC, every
# warning an error); the plain build compiles the benchmarks too, so that
# they keep building (they are run by hand).  After its tests it builds the
# HTML reference (Doxygen warnings are errors), installs that build into a
# temporary prefix and builds and runs the installed examples (the user
# project, C and C++) against it, once through CMake's find_package and
# once through pkg-config, runs the installed tool, and checks the README's
# tour against the tool's output.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test docs bench bus
jobs="$(nproc)"

check_installed() {
  local build="$1" prefix work
  prefix="$(mktemp -d)"
  work="$(mktemp -d)"
  echo "== installed package: cmake --install $build --prefix $prefix"
  cmake --install "$build" --prefix "$prefix" >/dev/null
  cp -r "$prefix/share/doc/lomari/examples/." "$work/"
  echo "== installed examples with find_package(lomari)"
  cmake -S "$work" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/build" >/dev/null
  for example in roundtrip sender_receiver table roundtrip_cpp; do "$work/build/$example" >/dev/null; done
  "$work/build/sender" | "$work/build/receiver"
  "$work/build/sender_cpp" 2>/dev/null | "$work/build/receiver_cpp" >/dev/null
  echo "== installed tool, schema, manual page, reference and headers"
  "$prefix/bin/lomari" types | tail -1
  "$prefix/bin/lomari" schema | cmp - "$prefix/share/lomari/lomari.xsd"
  test -s "$prefix/share/man/man1/lomari.1"
  test -s "$prefix/share/doc/lomari/html/index.html"
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
  # shellcheck disable=SC2086
  c++ -std=c++20 -Wall -Wextra -Werror -o "$work/roundtrip-cpp-pc" "$work/roundtrip.cpp" \
     $flags -Wl,-rpath,"$libdir"
  "$work/roundtrip-cpp-pc" >/dev/null
  rm -rf "$prefix" "$work"
}

passed=0 skipped=0
for variant in plain asan; do
  dir="build-ci-$variant"
  opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOMARI_WERROR=ON)
  [ "$variant" = plain ] && opts+=(-DLOMARI_BENCH=ON)
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
    echo "== the HTML reference"
    cmake --build "$dir" --target docs
    check_installed "$dir"
    echo "== the README's tour"
    python3 scripts/check_tour.py README.md "$dir/tools"
  fi
done
scripts/reliability.sh  # ThreadSanitizer build and fuzz smoke runs
echo "totals: $passed passed, 0 failed, $skipped skipped"
