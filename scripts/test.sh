#!/usr/bin/env bash
# Installs what is missing, builds every preset the tests need and runs all
# tests: unit, sanitizer, end-to-end (Xvfb, Wine, and the web page in
# Chromium, Firefox and WebKit) and a bounded fuzz run.
# Packages come from scripts/install-deps.sh; the module corpus from
# scripts/fetch-xm-corpus.sh (its tests skip when it cannot be had).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
jobs=$(nproc)

step() { echo; echo "=== $* ($(( $(date +%s) - start )) s)"; }

step "Installing packages"
scripts/install-deps.sh test
step "Checking the tools the tests need"
scripts/check-test-prereqs.sh tools
step "Checking that the sources' includes follow the layers"
scripts/check-layers.py

# The fuzz build (clang) comes first among the Linux builds: the unit tests
# include a bounded fuzzing run when it exists.
for preset in windows-x64 windows-x86 fuzz linux asan tsan; do
  step "Building $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# The web page, when Emscripten is there (its tests skip without it).
if command -v emcc >/dev/null; then
  step "Building web"
  cmake --preset web >/dev/null
  cmake --build --preset web -j "$jobs"
  # The web tests serve what people put on their hosts: the unpacked zip.
  cmake --build --preset web --target package >/dev/null
fi

if [ -x scripts/fetch-xm-corpus.sh ]; then
  step "Fetching the module corpus"
  scripts/fetch-xm-corpus.sh || echo "corpus not available; its tests will skip"
fi

# The end-to-end tests rely on the display, its fonts and Wine: see that
# they work before running them, and stop with the missing package if not.
step "Checking the display and Wine"
scripts/check-test-prereqs.sh display build/linux

status=0
step "Packages: build and check their contents"
scripts/check-packages.sh || status=1
step "Tests: linux (unit and end-to-end)"
# The long web cases (label "long", a good half hour) are run by hand.
ctest --preset linux -LE long -j "$jobs" || status=1
step "Tests: asan"
ctest --preset asan -LE 'e2e|fuzz' -j "$jobs" || status=1
step "Tests: tsan"
ctest --preset tsan -LE 'e2e|fuzz' -j "$jobs" || status=1

step "Done, status $status"
exit $status
