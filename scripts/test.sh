#!/usr/bin/env bash
# Installs what is missing, builds every preset the tests need and runs all
# tests: unit, sanitizer, end-to-end (Xvfb and Wine) and a bounded fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
jobs=$(nproc)

step() { echo; echo "=== $* ($(( $(date +%s) - start )) s)"; }

step "Installing packages"
scripts/install-deps.sh test

for preset in windows-x64 windows-x86 linux asan tsan; do
  step "Building $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

if [ -x scripts/fetch-xm-corpus.sh ]; then
  step "Fetching the module corpus"
  scripts/fetch-xm-corpus.sh || echo "corpus not available; its tests will skip"
fi

status=0
step "Tests: linux (unit and end-to-end)"
ctest --preset linux -j "$jobs" || status=1
step "Tests: asan"
ctest --preset asan -LE e2e -j "$jobs" || status=1
step "Tests: tsan"
ctest --preset tsan -LE e2e -j "$jobs" || status=1

if [ -f fuzz/CMakeLists.txt ] && [ -n "$(ls -d fuzz/*/ 2>/dev/null)" ]; then
  step "Building and running the fuzzers (bounded)"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
  ctest --test-dir build/fuzz --output-on-failure || status=1
fi

step "Done, status $status"
exit $status
