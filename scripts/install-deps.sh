#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages the build and the tests need, skipping
# what is already there. Usage: scripts/install-deps.sh [run|test]
set -euo pipefail
mode="${1:-test}"

run_pkgs=(cmake ninja-build g++ pkg-config libsdl2-dev libsdl2-ttf-dev libgl-dev libegl-dev
          fonts-liberation)
test_pkgs=(libgtest-dev googletest libbenchmark-dev clang
           g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64
           xvfb xdotool x11-utils imagemagick python3 python3-xlib
           libegl-dev libegl-mesa0 libgl1-mesa-dri gdb
           libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev ffmpeg
           emscripten chromium)

# libFuzzer's runtime comes in a package named after clang's version.
clang_runtime() {
  local v
  v=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -1)
  if [ -n "$v" ]; then echo "libclang-rt-$v-dev"; fi
}

pkgs=("${run_pkgs[@]}")
[ "$mode" = test ] && pkgs+=("${test_pkgs[@]}" $(clang_runtime))

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
# Names differ a little between releases: skip, with a word, what this one
# does not know (the tests that need it then skip or fail with a reason).
known=()
for p in "${missing[@]}"; do
  if apt-cache show "$p" >/dev/null 2>&1; then known+=("$p"); else echo "warning: no package $p here" >&2; fi
done
$SUDO apt-get install -y -qq --no-install-recommends "${known[@]}"
runtime=$(clang_runtime)
if [ "$mode" = test ] && [ -n "$runtime" ] && ! dpkg-query -W "$runtime" >/dev/null 2>&1; then
  $SUDO apt-get install -y -qq --no-install-recommends "$runtime" || echo "warning: no $runtime" >&2
fi
