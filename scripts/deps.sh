#!/usr/bin/env bash
# Installs the Debian packages Vantrel needs, when any is missing. Runs as
# root (or through sudo when available).
# Usage: scripts/deps.sh [GROUP...]   install the groups (default: all)
#        scripts/deps.sh --list GROUP...   print the groups' packages
# Groups: build (compile the programs and the package: scripts/run.sh, cpack),
# test (run the suite), fuzz (the sanitizer build and the fuzzers of
# scripts/test.sh), bench (bench/). scripts/test.sh takes build, test, fuzz.
set -euo pipefail

declare -A groups
groups[build]="
  build-essential cmake ninja-build pkg-config dpkg-dev
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-qpa-plugins
  libmicrohttpd-dev
"
groups[test]="
  libgtest-dev libgmock-dev
  xvfb xauth fontconfig fonts-dejavu-core
  openbox xdotool wmctrl bc
  desktop-file-utils appstream shared-mime-info libglib2.0-bin
  python3-pandas python3 chromium openssl
"
groups[fuzz]="
  clang libclang-rt-14-dev lld
"
groups[bench]="
  libbenchmark-dev qt6-charts-dev libqt6opengl6-dev python3
"
order=(build test fuzz bench)

list=0
if [[ ${1:-} == --list ]]; then
  list=1
  shift
fi
wanted=("$@")
[[ ${#wanted[@]} -gt 0 ]] || wanted=("${order[@]}")
packages=()
for group in "${wanted[@]}"; do
  [[ -v groups[$group] ]] || { echo "deps.sh: no group '$group' (${order[*]})" >&2; exit 2; }
  read -ra names <<<"${groups[$group]//$'\n'/ }"
  packages+=("${names[@]}")
done
if ((list)); then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing Debian packages: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "Run as root to install: ${missing[*]}" >&2; exit 1; }
  sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
