#!/usr/bin/env bash
# Fetches the XM modules shipped by a few Debian game packages into an
# ignored cache folder, for the corpus tests, the fuzzer seeds and the
# benchmarks. Nothing here is committed.
#   scripts/fetch-xm-corpus.sh [DEST]   (default: .cache/xm-corpus)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dest="${1:-$root/.cache/xm-corpus}"
pkgs=(pekka-kana-2-data flobopuyo bomberclone-data vodovod dodgindiamond2 gemdropx vor)

mkdir -p "$dest/debs" "$dest/tree" "$dest/xm"
cd "$dest/debs"
for p in "${pkgs[@]}"; do
  if ! ls "${p}"_*.deb >/dev/null 2>&1; then
    apt-get download "$p" || echo "warning: could not download $p" >&2
  fi
done
for deb in *.deb; do
  [ -e "$deb" ] || continue
  dpkg-deb -x "$deb" "$dest/tree/${deb%%_*}"
done
# One flat folder of modules, named after package and file.
find "$dest/tree" -type f -iname '*.xm' | while read -r f; do
  pkg="${f#"$dest/tree/"}"; pkg="${pkg%%/*}"
  cp -f "$f" "$dest/xm/${pkg}--$(basename "$f")"
done
echo "$(ls "$dest/xm" | wc -l) modules in $dest/xm"
