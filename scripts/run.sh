#!/usr/bin/env bash
# Installs what is missing, builds the Linux intro and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
# Only the intro and its music: the tools, tests and benchmarks need more
# packages, which the run mode does not install.
cmake --preset linux -DVANTOR_BUILD_TESTS=OFF -DVANTOR_BUILD_BENCH=OFF -DVANTOR_BUILD_TOOLS=OFF >/dev/null
cmake --build --preset linux --target vantor music_module
exec build/linux/vantor
