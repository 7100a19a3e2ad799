#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages the build and the tests need, skipping
# what is already there. Usage: scripts/install-deps.sh [run|test]
#   run   what scripts/run.sh builds and starts: the intro and its music
#   test  all of that, plus every preset, tool, test and fuzz target
# Packages are installed without their recommendations, so every one a
# build or a test relies on must be named here; a machine that has been used
# for a while has many of them by accident.
set -euo pipefail
mode="${1:-test}"
case "$mode" in run|test) ;; *) echo "usage: $0 [run|test]" >&2; exit 2 ;; esac

# libopengl-dev: CMake's OpenGL::GL target is the GLVND libOpenGL, which
# libgl-dev does not bring. xfonts-base: SDL draws its "fullscreen?" box with
# core X fonts, and without them there is no prompt (any X server, Xvfb or
# a desktop). fontconfig finds the loading screen's font. libwayland-dev:
# the intro asks a Wayland compositor for its seat before SDL starts there;
# libdecor-0-plugin-1-cairo: the title bar (caption, close button) SDL draws
# for its windows where the compositor draws none (GNOME, Weston).
run_pkgs=(cmake ninja-build g++ pkg-config libsdl2-dev libsdl2-ttf-dev libgl-dev libopengl-dev
          libfontconfig-dev fonts-liberation xfonts-base libwayland-dev libdecor-0-plugin-1-cairo)
# libegl-dev and Mesa: the headless capture tool and the picture tests;
# libpng-dev: the PNG files it writes.
# x11-utils: xwininfo and xlsfonts; python3-xlib: the close request.
# weston: the private Wayland compositor (with weston-debug and
# weston-screenshooter) of the Wayland cases.
# The web page's three engines: chromium; firefox-esr; webkit2gtk-driver
# (WebKitWebDriver, and through its library WebKitGTK's MiniBrowser).
# Firefox and WebKit play through a private pulseaudio, WebKit by way of
# GStreamer's pulsesink (gstreamer1.0-pulseaudio).
test_pkgs=(libgtest-dev googletest libbenchmark-dev clang
           g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64
           xvfb xdotool x11-utils imagemagick python3 python3-xlib weston
           libegl-dev libegl-mesa0 libgl1-mesa-dri libpng-dev gdb
           libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev ffmpeg
           emscripten chromium firefox-esr webkit2gtk-driver pulseaudio gstreamer1.0-pulseaudio)

# libFuzzer's runtime comes in a package named after clang's version.
clang_runtime() {
  local v
  v=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -1)
  if [ -n "$v" ]; then echo "libclang-rt-$v-dev"; fi
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
updated=""

# Installs those of the given packages that are missing.
install_missing() {
  local missing=() known=() p
  for p in "$@"; do installed "$p" || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  if [ -z "$updated" ]; then $SUDO apt-get update -qq; updated=1; fi
  # Names differ a little between releases: skip, with a word, what this one
  # does not know (the prerequisite checks of the test command then say
  # what is missing).
  for p in "${missing[@]}"; do
    if apt-cache show "$p" >/dev/null 2>&1; then known+=("$p"); else echo "warning: no package $p here" >&2; fi
  done
  [ ${#known[@]} -eq 0 ] && return 0
  $SUDO apt-get install -y -qq --no-install-recommends "${known[@]}"
}

pkgs=("${run_pkgs[@]}")
[ "$mode" = test ] && pkgs+=("${test_pkgs[@]}")
install_missing "${pkgs[@]}"
# Only now is clang there to say which runtime it needs.
if [ "$mode" = test ]; then
  runtime=$(clang_runtime)
  if [ -n "$runtime" ]; then install_missing "$runtime"; fi
fi
