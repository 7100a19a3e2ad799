#!/usr/bin/env bash
# The installed player library as another program meets it: install into a
# temporary prefix, build a small C program against it with find_package and
# with pkg-config, and check that each plays the module exactly as xm-render
# does. Also checks that the shared library exports nothing but the API.
# Usage: run.sh BUILD_DIR XM_RENDER MODULE SCRATCH
set -euo pipefail
build=$1 render=$2 module=$3 scratch=$4
here=$(cd "$(dirname "$0")" && pwd)/project
rm -rf "$scratch" && mkdir -p "$scratch"
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" --component vantor-xm >"$scratch/install.log"
lib=$(find "$prefix" -name 'libvantor-xm.so.*.*' | head -1)
[ -n "$lib" ] || { echo "FAIL: no shared library installed"; cat "$scratch/install.log"; exit 1; }
exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^vxm_' || true)
[ -z "$exported" ] || { echo "FAIL: $lib exports more than the API:"; echo "$exported" | head; exit 1; }
echo "ok   $(basename "$lib") exports $(nm -D --defined-only "$lib" | grep -c ' vxm_') API symbols and nothing else"

"$render" "$module" -o "$scratch/reference.wav" 2>/dev/null
expected=$(python3 - "$scratch/reference.wav" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
assert data[36:40] == b"data", "unexpected WAV layout"
pcm = data[44:44 + struct.unpack("<I", data[40:44])[0]]
h = 14695981039346656037
for b in pcm:
    h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
print(f"{len(pcm) // 4} {h:016x}")
PY
)

check() {
  local what=$1 exe=$2 got
  got=$("$exe" "$module" | cut -d' ' -f1,2)
  [ "$got" = "$expected" ] || { echo "FAIL: $what plays '$got', xm-render '$expected'"; exit 1; }
  echo "ok   $what: $got"
}

cmake -S "$here" -B "$scratch/with-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" >"$scratch/configure.log" || { cat "$scratch/configure.log"; exit 1; }
cmake --build "$scratch/with-cmake" >"$scratch/build.log" || { cat "$scratch/build.log"; exit 1; }
check "find_package, shared" "$scratch/with-cmake/consumer"
check "find_package, static" "$scratch/with-cmake/consumer-static"

pc_dir=$(dirname "$(find "$prefix" -name vantor-xm.pc | head -1)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs vantor-xm)
libdir=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir vantor-xm)
cc -std=c99 -Wall -Wextra -o "$scratch/consumer-pc" "$here/consumer.c" $flags -Wl,-rpath,"$libdir"
check "pkg-config" "$scratch/consumer-pc"
rm -rf "$scratch"
