#!/usr/bin/env bash
# Runs the XM fuzzer for a bounded time: FUZZER SEEDER WORKDIR SECONDS.
# Seeds are the crafted modules plus the fetched corpus (.cache/xm-corpus/xm)
# when present. Findings are left in WORKDIR as crash-*/leak-*/timeout-*.
# Exits 77 (skipped) when the fuzzer has not been built.
set -euo pipefail
fuzzer="$1"; seeder="$2"; work="$3"; seconds="${4:-90}"
if [ ! -x "$fuzzer" ] || [ ! -x "$seeder" ]; then
  echo "xm-fuzz is not built: cmake --preset fuzz && cmake --build build/fuzz --target xm-fuzz xm-fuzz-seeds"
  exit 77
fi
root="$(cd "$(dirname "$0")/../.." && pwd)"
mkdir -p "$work/seeds" "$work/corpus"
"$seeder" "$work/seeds" >/dev/null
if [ -d "$root/.cache/xm-corpus/xm" ]; then
  cp -f "$root"/.cache/xm-corpus/xm/*.xm "$work/seeds/" 2>/dev/null || true
fi
cd "$work"
exec "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 -max_len=262144 \
  -print_final_stats=1 corpus seeds
