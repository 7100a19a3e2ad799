#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages the build and the tests need, skipping
# what is already there. Usage: scripts/install-deps.sh [run|test]
set -euo pipefail
mode="${1:-test}"

run_pkgs=(cmake ninja-build g++ pkg-config libsdl2-dev libsdl2-ttf-dev libgl-dev fonts-liberation)
test_pkgs=(libgtest-dev googletest libbenchmark-dev clang
           g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64
           xvfb xdotool x11-utils imagemagick python3 python3-xlib
           libegl-dev libegl-mesa0 libgl1-mesa-dri gdb
           libclang-rt-14-dev)

pkgs=("${run_pkgs[@]}")
[ "$mode" = test ] && pkgs+=("${test_pkgs[@]}")

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
