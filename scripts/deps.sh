#!/usr/bin/env bash
# Installs the Debian packages a job needs, when they are missing.  Each
# script asks for its own set, so that running the tool does not pull in
# the compilers of the fuzzers or the benchmarks' libraries:
#   scripts/deps.sh build   the library, its runtime and the lomari tool
#                           (the runtime's shared databases use Boost's
#                           header-only interprocess allocator)
#   scripts/deps.sh test    build, plus the test suite and the installed-package
#                           check and the README's tour (GoogleTest,
#                           pkg-config, xmllint, jq)
#   scripts/deps.sh clang   clang with libFuzzer and the sanitizer runtimes,
#                           llvm-profdata and llvm-cov (fuzz, coverage)
#   scripts/deps.sh bench   build, plus Google Benchmark, the reference
#                           encoding's compiler and library
#                           (also spelled --bench)
#   scripts/deps.sh docs    Doxygen, for the HTML reference (the docs target)
#   scripts/deps.sh bus     the NATS server and C client (and OpenSSL's headers,
#                           for NKey seeds): liblomari_bus, the tool's bus
#                           commands and their tests
# Several sets may be named at once; none means build.
set -euo pipefail
build=(cmake ninja-build g++ python3 binutils libxml2-dev nlohmann-json3-dev libboost-dev)
pkgs=()
[ $# -eq 0 ] && set -- build
for set in "$@"; do
  case "$set" in
    build) pkgs+=("${build[@]}") ;;
    test) pkgs+=("${build[@]}" libgtest-dev pkg-config libxml2-utils jq) ;;
    clang) pkgs+=(clang llvm libclang-rt-14-dev) ;;
    bench | --bench) pkgs+=("${build[@]}" libbenchmark-dev libprotobuf-dev protobuf-compiler) ;;
    docs) pkgs+=(doxygen) ;;
    bus) pkgs+=(nats-server libnats-dev libssl-dev) ;;
    *) echo "deps.sh: unknown set '$set' (build, test, clang, bench, docs, bus)" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
