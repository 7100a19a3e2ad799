#!/usr/bin/env python3
"""Checks that the sources' includes point one way, from the bottom up:

  1. the seam: src/platform/platform.h and the vocabulary beside it
  2. the core: src/shell, src/music (the player), src/scroller, src/font
  3. the backends: src/platform/win32, sdl and web

and that nothing under src/ reaches into tools/ or tests/. Prints one line
per include that runs the wrong way and exits 1 when there is any.

Usage: check-layers.py [REPOSITORY]   (default: the one holding this script)

Before the sources it checks its own rules on a made-up tree, one file that
breaks each rule, so that a rule that stopped matching cannot pass silently.
"""
import os
import re
import sys
import tempfile

CORE = ("shell", "music", "scroller", "font")
BACKENDS = ("win32", "sdl", "web")
SOURCE = (".h", ".hpp", ".c", ".cpp", ".inl")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
CMAKE_REACH = re.compile(r'(SOURCE_DIR\}|\.\.)/(tools|tests)\b')


def layer(path):
    """The layer of a repository-relative path, or None."""
    parts = path.split("/")
    if parts[0] in ("tools", "tests"):
        return parts[0]
    if parts[0] != "src" or len(parts) < 3:
        return None
    if parts[1] == "platform":
        return "backend" if len(parts) > 3 and parts[2] in BACKENDS else "seam"
    return parts[1] if parts[1] in CORE else None


def broken_rule(source, target):
    """Why an include from layer `source` of layer `target` is wrong, or None."""
    if source == "seam" and target in CORE + ("backend",):
        return "the seam includes the core or a backend"
    if source in CORE and target == "backend":
        return "a core folder includes a backend"
    if source == "music" and target == "seam":
        return "the player includes the seam"
    if source in ("font", "scroller") and target == "shell":
        return "font or scroller include shell/"
    if source in CORE + ("seam", "backend") and target in ("tools", "tests"):
        return "src/ includes tools/ or tests/"
    return None


def resolve(root, including, name):
    """The repository-relative path a quoted include names: beside the
    including file first, then from src/ (the include folder every target
    gets), then from the repository root."""
    for base in (os.path.dirname(including), "src", ""):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate.replace(os.sep, "/")
    # Not there: judge by the name itself.
    base = os.path.dirname(including) if name.startswith(".") else "src"
    return os.path.normpath(os.path.join(base, name)).replace(os.sep, "/")


def problems(root):
    found = []
    for folder, _, files in os.walk(os.path.join(root, "src")):
        for file in sorted(files):
            path = os.path.relpath(os.path.join(folder, file), root).replace(os.sep, "/")
            if file == "CMakeLists.txt" or file.endswith(".cmake"):
                # An include folder or a source file taken from tools/ or tests/.
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        if CMAKE_REACH.search(line.split("#")[0]):
                            found.append(f"{path}:{number}: names tools/ or tests/: src/ includes tools/ or tests/")
                continue
            if not file.endswith(SOURCE):
                continue
            source = layer(path)
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                text = f.read()
            for match in INCLUDE.finditer(text):
                target_path = resolve(root, path, match.group(1))
                why = broken_rule(source, layer(target_path))
                if why:
                    line = text.count("\n", 0, match.start()) + 1
                    found.append(f"{path}:{line}: includes \"{match.group(1)}\": {why}")
    return found


def check_rules():
    """Each rule, broken once in a made-up tree, must be reported."""
    breaking = {
        "src/platform/platform.h": '#include "shell/intro.h"',
        "src/shell/intro.cpp": '#include "platform/sdl/sdl_rules.h"',
        "src/music/xm_output.cpp": '#include "platform/platform.h"',
        "src/scroller/scroller.cpp": '#include "shell/gl.h"',
        "src/font/cube.cpp": '#include "../../tests/music/xm_writer.h"',
        "src/scroller/CMakeLists.txt": "target_include_directories(x PRIVATE ${PROJECT_SOURCE_DIR}/tools/x)",
        "src/shell/fine.cpp": '#include "platform/platform.h"\n#include "music/music.h"',
        "src/platform/sdl/fine.cpp": '#include "shell/main_loop.h"',
    }
    with tempfile.TemporaryDirectory() as root:
        for path, text in breaking.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as f:
                f.write(text + "\n")
        reported = {line.split(":")[0] for line in problems(root)}
    expected = {path for path in breaking if "fine" not in path}
    if reported != expected:
        print(f"check-layers: the rules are broken: reported {sorted(reported)}, expected {sorted(expected)}",
              file=sys.stderr)
        sys.exit(2)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    check_rules()
    found = problems(root)
    for line in found:
        print(line, file=sys.stderr)
    if found:
        print(f"check-layers: {len(found)} include(s) against the layers", file=sys.stderr)
        return 1
    print("check-layers: every include points down the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
