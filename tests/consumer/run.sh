#!/usr/bin/env bash
# The installed player library as another program meets it: install into a
# temporary prefix, build a small C program against it (a C-only CMake project
# with find_package, shared and static, and with pkg-config, shared and
# static), and check that each plays the module exactly as xm-render does and
# that header, library and package agree on the version. Also checks that
# both libraries define no global name outside the API, and that the static
# one links beside a program with global names of its own.
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
archive=$(find "$prefix" -name 'libvantor-xm.a' | head -1)
[ -n "$archive" ] || { echo "FAIL: no static library installed"; exit 1; }
globals=$(nm -g --defined-only "$archive" | awk 'NF == 3 {print $3}')
outside=$(echo "$globals" | grep -v '^vxm_' || true)
[ -z "$outside" ] || { echo "FAIL: $(basename "$archive") defines more than the API:"; echo "$outside" | head; exit 1; }
echo "ok   $(basename "$archive") defines $(echo "$globals" | grep -c '^vxm_') global symbols, all of the API"

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
  local what=$1 exe=$2 got version
  read -r frames hash version < <("$exe" "$module" || echo "failed")
  got="$frames $hash"
  [ "$got" = "$expected" ] || { echo "FAIL: $what plays '$got', xm-render '$expected'"; exit 1; }
  [ "$version" = "$package_version" ] || { echo "FAIL: $what: library $version, package $package_version"; exit 1; }
  echo "ok   $what: $got, version $version"
}

pc_dir=$(dirname "$(find "$prefix" -name vantor-xm.pc | head -1)")
package_version=$(PKG_CONFIG_PATH=$pc_dir pkg-config --modversion vantor-xm)

cmake -S "$here" -B "$scratch/with-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" >"$scratch/configure.log" || { cat "$scratch/configure.log"; exit 1; }
cmake --build "$scratch/with-cmake" >"$scratch/build.log" || { cat "$scratch/build.log"; exit 1; }
check "find_package, shared" "$scratch/with-cmake/consumer"
if readelf -d "$scratch/with-cmake/static/consumer-static" | grep -q 'libvantor-xm'; then
  echo "FAIL: the static target linked the shared library"; exit 1
fi
check "find_package twice, static, beside the program's own names" "$scratch/with-cmake/static/consumer-static"

export PKG_CONFIG_PATH=$pc_dir
libdir=$(pkg-config --variable=libdir vantor-xm)
cc -std=c99 -Wall -Wextra -o "$scratch/consumer-pc" "$here/consumer.c" \
  $(pkg-config --cflags --libs vantor-xm) -Wl,-rpath,"$libdir"
check "pkg-config, shared" "$scratch/consumer-pc"
# Static, with the libraries it needs from Libs.private.
cc -std=c99 -Wall -Wextra -DOWN_NAMES -o "$scratch/consumer-pc-static" "$here/consumer.c" "$here/own_names.c" \
  $(pkg-config --cflags vantor-xm) -Wl,-Bstatic $(pkg-config --static --libs vantor-xm) -Wl,-Bdynamic
check "pkg-config --static" "$scratch/consumer-pc-static"
rm -rf "$scratch"
