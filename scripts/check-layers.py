#!/usr/bin/env python3
"""Checks that the sources' includes point one way, from the bottom up:

  1. the seam: src/platform/platform.h and the vocabulary beside it
  2. the core: src/shell, src/music (the player), src/scroller, src/font
  3. the backends: src/platform/win32, sdl and web

and that nothing under src/ reaches into tools/ or tests/. The player
(src/music) is also the library libvantor-xm, so it stands alone: it uses
nothing of the seam nor of the other core folders. Both kinds of include are
read ("..." and <...>, the latter where it names a file of the project),
and so are the CMake files' target_link_libraries, a link being a use like
an include. Neither the seam nor the core includes a platform's own headers
(<windows.h>, SDL, Emscripten). Prints one line per include or link that
runs the wrong way and exits 1 when there is any.

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
INCLUDE = re.compile(r'^\s*#\s*include\s*(?:"([^"]+)"|<([^>]+)>)', re.M)
CMAKE_REACH = re.compile(r'(SOURCE_DIR\}|\.\.)/(tools|tests)\b')
CMAKE_TARGET = re.compile(r'\badd_(?:library|executable)\s*\(\s*([A-Za-z0-9_.+:-]+)', re.I)
CMAKE_LINK = re.compile(r'\btarget_link_libraries\s*\(([^)]*)\)', re.I)
PLATFORM_HEADER = re.compile(r'^(windows\.h|SDL[^/]*\.h|SDL2/|emscripten[./]|webgl/)', re.I)
SKIPPED_FOLDERS = ("build", "node_modules")  # build trees, the web tests' packages


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
    if source == "music" and target in ("seam", "shell", "scroller", "font"):
        return "the player uses the seam or another core folder"
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


def resolve_angled(root, name):
    """The repository-relative path an angled include names when it is a
    file of the project (from src/ or the repository root); None for the
    system's and the libraries' headers."""
    for base in ("src", ""):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate.replace(os.sep, "/")
    return None


def cmake_files(root):
    """Every CMake file of the tree, as (repository-relative path, text with
    the comments blanked out and the lines kept)."""
    for folder, subfolders, files in os.walk(root):
        subfolders[:] = sorted(d for d in subfolders if not d.startswith(".") and d not in SKIPPED_FOLDERS)
        for file in sorted(files):
            if file == "CMakeLists.txt" or file.endswith(".cmake"):
                path = os.path.relpath(os.path.join(folder, file), root).replace(os.sep, "/")
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    text = "\n".join(line.split("#")[0] for line in f.read().split("\n"))
                yield path, text


def link_problems(root):
    """Links against the layers: the layer of the linking target (where it
    is made, else the file that links it) against the layer of each project
    target it names, bare or inside a generator expression."""
    files = list(cmake_files(root))
    made_in = {}
    for path, text in files:
        for match in CMAKE_TARGET.finditer(text):
            made_in.setdefault(match.group(1), layer(path))
    found = []
    for path, text in files:
        for match in CMAKE_LINK.finditer(text):
            words = match.group(1).split()
            if not words:
                continue
            user = words[0]
            source = made_in.get(user, layer(path))
            for word in words[1:]:
                for name in re.findall(r"[A-Za-z0-9_.+-]+", word):
                    why = broken_rule(source, made_in[name]) if name in made_in else None
                    if why:
                        line = text.count("\n", 0, match.start()) + 1
                        found.append(f"{path}:{line}: {user} links {name}: {why}")
    return found


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
                quoted, angled = match.groups()
                if quoted:
                    named, why = f'"{quoted}"', broken_rule(source, layer(resolve(root, path, quoted)))
                else:
                    named, target_path = f"<{angled}>", resolve_angled(root, angled)
                    why = broken_rule(source, layer(target_path)) if target_path else None
                    if source in CORE + ("seam",) and PLATFORM_HEADER.match(angled):
                        why = "the core or the seam includes a platform's own header"
                if why:
                    line = text.count("\n", 0, match.start()) + 1
                    found.append(f"{path}:{line}: includes {named}: {why}")
    return found + link_problems(root)


def check_rules():
    """Each rule, broken once in a made-up tree, must be reported."""
    breaking = {
        "src/platform/platform.h": '#include "shell/intro.h"',
        "src/shell/intro.cpp": '#include "platform/sdl/sdl_rules.h"',
        "src/music/xm_output.cpp": '#include "platform/platform.h"',
        "src/scroller/scroller.cpp": '#include "shell/gl.h"',
        "src/font/cube.cpp": '#include "../../tests/music/xm_writer.h"',
        "src/scroller/CMakeLists.txt": "target_include_directories(x PRIVATE ${PROJECT_SOURCE_DIR}/tools/x)",
        "src/shell/fine.cpp": '#include "platform/platform.h"\n#include "music/music.h"\n#include <vector>',
        "src/platform/sdl/fine.cpp": '#include "shell/main_loop.h"\n#include <SDL.h>\n#include <platform/platform.h>',
        "src/music/xm_mixer.cpp": "#include <platform/platform.h>",
        "src/music/xm_engine.cpp": '#include "shell/intro.h"',
        "src/font/font.cpp": "#include <SDL.h>",
        "src/music/CMakeLists.txt": "add_library(vantor_music STATIC x.cpp)\n"
                                    "target_link_libraries(vantor_music\n  PUBLIC Threads::Threads $<BUILD_INTERFACE:vantor_shell>)",
        "src/shell/fine.cmake": "add_library(vantor_shell STATIC y.cpp)\ntarget_link_libraries(vantor_shell PRIVATE vantor_music)",
        "src/font/link.cmake": "target_link_libraries(vantor_font PRIVATE xm_write)",
        "tools/fine/CMakeLists.txt": "add_library(xm_write STATIC z.cpp)\ntarget_link_libraries(xm_write PRIVATE vantor_music)",
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
        print(f"check-layers: {len(found)} include(s) or link(s) against the layers", file=sys.stderr)
        return 1
    print("check-layers: every include and link points down the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
