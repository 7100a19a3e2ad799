#!/usr/bin/env bash
# The Windows build mixes every module of the corpus to the same bits as the
# Linux build's plain scalar mixer: xm-render.exe under Wine, with the
# processor's fastest path and with SSE2, the baseline of the x86 build.
# Usage: mixer_paths.sh XM_RENDER XM_RENDER_EXE CORPUS_DIR EXTRA_MODULE SCRATCH_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

render="$1" exe="$2" corpus="$3" extra="$4" scratch="$5"
seconds=20
[ -x "$render" ] || e2e_skip "$render has not been built"
[ -f "$exe" ] || e2e_skip "$exe has not been built"
modules=("$corpus"/*.xm "$extra")
[ -f "${modules[0]}" ] || e2e_skip "no corpus in $corpus (scripts/fetch-xm-corpus.sh)"
scratch=$(realpath -m "$scratch")
work="$scratch/mixer-paths"
rm -rf "$work"; mkdir -p "$work"
e2e_wine_prefix "$scratch/wineprefix"
# One server for all the runs: starting it is most of a run's time.
wineserver -p 30

failed=0 compared=0
for m in "${modules[@]}"; do
  [ -f "$m" ] || continue
  name=$(basename "$m" .xm)
  "$render" "$m" -o "$work/$name.scalar.wav" --seconds $seconds --mixer scalar >/dev/null 2>&1 ||
    e2e_fail "xm-render could not render $m"
  for path in best sse2; do
    out="$work/$name.wine-$path.wav"
    # Wine's drive Z: is the root of this file system.
    wine "$exe" "Z:$(realpath "$m")" -o "Z:$out" \
      --seconds $seconds --mixer $path >/dev/null 2>&1 || e2e_fail "xm-render.exe could not render $m with $path"
    compared=$((compared + 1))
    if ! cmp -s "$work/$name.scalar.wav" "$out"; then
      e2e_log "$name: the Windows build's $path mixer differs from the scalar one"
      failed=$((failed + 1))
    fi
  done
  rm -f "$work/$name".*.wav
done
wineserver -k 2>/dev/null
[ "$failed" -eq 0 ] || e2e_fail "$failed of $compared renders differ"
e2e_log "$compared renders under Wine equal the scalar mixer's"
exit 0
