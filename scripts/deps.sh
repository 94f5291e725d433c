#!/usr/bin/env bash
# Installs what building and testing liblomari needs, when it is missing:
# the build tools, pkg-config (the installed-package check), GoogleTest,
# libxml2 and the Boost headers for the runtime, nlohmann-json for the tool,
# xmllint and jq for the README's tour.  With --bench (or LOMARI_BENCH=ON in the
# environment) also what the benchmarks need: Google Benchmark and the
# reference encoding's compiler and library.
set -euo pipefail
pkgs=(cmake ninja-build g++ python3 binutils pkg-config libgtest-dev libxml2-dev libboost-dev)
pkgs+=(nlohmann-json3-dev libxml2-utils jq)  # the tool's JSON; the tour's xmllint and jq
pkgs+=(clang llvm libclang-rt-14-dev)  # fuzz targets and coverage (libFuzzer, llvm-profdata, llvm-cov)
bench="${LOMARI_BENCH:-OFF}"
for arg in "$@"; do
  [ "$arg" = "--bench" ] && bench=ON
done
if [ "$bench" = "ON" ] || [ "$bench" = "1" ]; then
  pkgs+=(libbenchmark-dev libprotobuf-dev protobuf-compiler)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
