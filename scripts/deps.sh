#!/usr/bin/env bash
# Installs what building and testing liblomari needs, when it is missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ python3 binutils libgtest-dev libgmock-dev libbenchmark-dev libxml2-dev libboost-dev)
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
