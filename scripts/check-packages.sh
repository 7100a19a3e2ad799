#!/usr/bin/env bash
# Builds the downloadable packages of the already configured presets and
# checks what each holds: the intro as built (the Linux one stripped), its
# music "2.xm", a note on running it, and nothing else. The Windows intro must stay within
# 64 KiB (65,536 bytes), packed by nothing.
# Usage: check-packages.sh [PRESET...]   (default: windows-x64 windows-x86 linux)
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(windows-x64 windows-x86 linux)
status=0
for preset in "${presets[@]}"; do
  dir=build/$preset
  if ! cmake --build --preset "$preset" --target package >"$dir/package.log" 2>&1; then
    cat "$dir/package.log" >&2
    echo "FAIL $preset: the package was not built" >&2
    status=1
    continue
  fi
  python3 - "$preset" "$dir" <<'PY' || status=1
import glob, os, stat, subprocess, sys, tarfile, tempfile, zipfile

preset, folder = sys.argv[1], sys.argv[2]
windows = preset.startswith("windows")
exe = "vantor.exe" if windows else "vantor"
pattern = "*.zip" if windows else "*.tar.gz"
archives = sorted(glob.glob(os.path.join(folder, "vantor-filigree-*" + pattern[1:])))
if len(archives) != 1:
    sys.exit(f"FAIL {preset}: expected one package, found {archives}")
archive = archives[0]

# name -> (bytes, executable?)
entries = {}
if windows:
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            if not info.is_dir():
                entries[info.filename] = (z.read(info), False)
else:
    with tarfile.open(archive) as t:
        for member in t.getmembers():
            if member.isfile():
                entries[member.name] = (t.extractfile(member).read(), bool(member.mode & stat.S_IXUSR))

top = os.path.basename(archive).split(".zip")[0].split(".tar.gz")[0]
expected = {exe, "2.xm", "readme.txt"}
found = {name[len(top) + 1:] if name.startswith(top + "/") else name for name in entries}
problems = []
if found != expected:
    problems.append(f"holds {sorted(found)}, expected {sorted(expected)} in {top}/")
for name in expected & found:
    data, executable = entries[f"{top}/{name}"]
    if name in (exe, "2.xm"):
        with open(os.path.join(folder, name), "rb") as built:
            reference = built.read()
        if name == exe and not windows:
            with tempfile.TemporaryDirectory() as scratch:
                stripped = os.path.join(scratch, exe)
                subprocess.run(["strip", "-o", stripped, os.path.join(folder, exe)], check=True)
                with open(stripped, "rb") as f:
                    reference = f.read()
        if data != reference:
            problems.append(f"{name} differs from the build's" + ("" if windows or name != exe else ", stripped"))
    if name == exe and not windows and not executable:
        problems.append(f"{name} is not executable")
    if name == exe and windows and len(data) > 65536:
        problems.append(f"{name} is {len(data)} bytes, more than 65,536")
    if name == "readme.txt" and f'Start "{exe}"'.encode() not in data:
        problems.append(f"readme.txt does not say how to run {exe}")
size = len(entries.get(f"{top}/{exe}", (b"",))[0])
if problems:
    sys.exit("\n".join(f"FAIL {preset}: {p}" for p in problems))
print(f"ok   {preset}: {os.path.basename(archive)} ({exe} {size} bytes)")
PY
done
exit $status
