#!/usr/bin/env bash
# Checks that what the tests rely on is really there and works, so that a
# missing package stops the test command with one line naming it, instead
# of failing a dozen tests with a puzzling message each.
# Usage: scripts/check-test-prereqs.sh tools
#          programs on the PATH and libFuzzer's runtime (before building)
#        scripts/check-test-prereqs.sh display BUILD_DIR
#          the intro's prompt shows on a private Xvfb display and Wine starts
#          (after building BUILD_DIR/vantor; Wine's prefix is the one the
#          end-to-end tests use)
# Exit status 0 when everything is there, 1 after printing the line.
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
stage="${1:-tools}"

missing() { echo "missing prerequisite: $1 (package $2)" >&2; exit 1; }

clang_version() { clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -1; }

check_tools() {
  local entry program package
  for entry in cmake:cmake ninja:ninja-build g++:g++ pkg-config:pkg-config clang++:clang \
               x86_64-w64-mingw32-g++:g++-mingw-w64-x86-64 i686-w64-mingw32-g++:g++-mingw-w64-i686 \
               Xvfb:xvfb xdotool:xdotool xwininfo:x11-utils xlsfonts:x11-utils import:imagemagick \
               convert:imagemagick python3:python3 wine:wine pulseaudio:pulseaudio \
               weston:weston weston-debug:weston weston-screenshooter:weston; do
    program="${entry%%:*}" package="${entry#*:}"
    command -v "$program" >/dev/null || missing "the program $program" "$package"
  done
  /usr/bin/python3 -c 'import Xlib' 2>/dev/null || missing "Python's Xlib module" python3-xlib
  # Under Wayland the intro's windows get their title bar from libdecor's plugin.
  compgen -G "/usr/lib/*/libdecor/plugins-1/libdecor-cairo.so" >/dev/null ||
    missing "libdecor's title bar for windows under Wayland" libdecor-0-plugin-1-cairo
  # WebKit's sound goes to the web tests' sound server through GStreamer.
  if command -v WebKitWebDriver >/dev/null; then
    compgen -G "/usr/lib/*/gstreamer-1.0/libgstpulseaudio.so" >/dev/null ||
      missing "GStreamer's pulsesink for WebKit's sound" gstreamer1.0-pulseaudio
  fi

  # The fuzz targets link clang's libFuzzer runtime, packaged apart from clang.
  local scratch
  scratch=$(mktemp -d)
  printf '%s\n' 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
    >"$scratch/probe.cpp"
  if ! clang++ -fsanitize=fuzzer "$scratch/probe.cpp" -o "$scratch/probe" >/dev/null 2>&1; then
    rm -rf "$scratch"
    missing "libFuzzer's runtime for clang $(clang_version)" "libclang-rt-$(clang_version)-dev"
  fi
  rm -rf "$scratch"
}

check_display() {
  local build="$1" exe info w pattern scratch
  build=$(realpath "$build")
  exe="$build/vantor"
  [ -x "$exe" ] || { echo "missing prerequisite: $exe has not been built" >&2; exit 1; }
  # The end-to-end tests' shell functions: a private Xvfb, window lookup, Wine's prefix.
  . "$root/tests/e2e/lib.sh"
  e2e_start_xvfb >/dev/null

  # SDL's message box draws with core X fonts; without any there is no box.
  pattern='-*-*-medium-r-normal--*-120-*-*-*-*-*-*'
  xlsfonts -fn "$pattern" 2>/dev/null | grep -q . ||
    missing "core X fonts for the \"fullscreen?\" prompt" xfonts-base

  # The prompt itself, as the tests meet it: the real intro in a scratch folder.
  scratch=$(mktemp -d)
  (cd "$scratch" && exec env SDL_AUDIODRIVER=dummy "$exe" >"$scratch/out.txt" 2>&1) &
  local pid=$!
  # SDL turns a polite termination into a quit request that a waiting
  # prompt never reads; the prompt runs in a child of its own.
  stop_intro() { kill -9 $(pgrep -P "$pid") "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
  if ! info=$(e2e_find_window "^${E2E_NAME}\$" 60); then
    stop_intro
    echo "missing prerequisite: the \"fullscreen?\" prompt does not show on Xvfb:" \
         "$(tail -1 "$scratch/out.txt")" >&2
    rm -rf "$scratch"; exit 1
  fi
  read -r _ w _ <<<"$info"
  stop_intro
  rm -rf "$scratch"
  [ "$w" -lt 600 ] || missing "the \"fullscreen?\" prompt (a ${w}-pixel wide window came instead)" xfonts-base

  # Wine starts and runs a Windows program, in the tests' own prefix.
  mkdir -p "$build/e2e"
  (e2e_wine_prefix "$build/e2e/wineprefix") >/dev/null 2>&1 ||
    missing "a working Wine (wineboot fails)" "wine64"
  e2e_wine_prefix "$build/e2e/wineprefix" >/dev/null
  wine cmd /c echo wine-runs 2>/dev/null | tr -d '\r' | grep -qx wine-runs ||
    missing "a working Wine (64-bit)" "wine64"
}

case "$stage" in
  tools) check_tools ;;
  display) check_display "${2:?build folder}" ;;
  *) echo "usage: $0 tools | display BUILD_DIR" >&2; exit 2 ;;
esac
exit 0
