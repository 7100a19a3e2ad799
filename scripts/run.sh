#!/usr/bin/env bash
# Installs what is missing, builds the Linux intro and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake --preset linux >/dev/null
cmake --build --preset linux --target vantor
exec build/linux/vantor
