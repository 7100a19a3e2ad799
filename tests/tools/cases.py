#!/usr/bin/env python3
"""The command-line tools as a user meets them, one case list per program.

Each case gives the arguments and the paths prepared in an empty folder, and
expects the exit status, the first line of standard error that is the
program's own ("PROGRAM: ..." or "usage: ...", not a module's summary) and
exactly the paths present in the folder afterwards.

Usage: cases.py PROGRAM EXECUTABLE MODULE SCRATCH [wine]
  PROGRAM  xm-render, xm-compose, xm-soak, xm-play, vantor-capture,
           serve-web.sh or startup.py (the web page's start-up benchmark)
  MODULE   an XM module to play (2.xm)
  wine     run EXECUTABLE (a Windows build) under Wine, only the cases marked
           for it

Paths, prepared and expected:
  name          a copy of MODULE (prepared) / a regular file (expected)
  name=TEXT     a file holding TEXT (TEXT may be empty)
  name/         a folder
  name@         a device node that refuses every write (like /dev/full)
  name|         a FIFO; a module's (NAME.xm|) is fed a copy of MODULE once
  name->target  a symbolic link
A prepared "name" that does not end in .xm is a file holding "old". Any of
them may end in "!MODE", "!MODE:USER" or "!:USER": its permissions (octal)
and owner, set when prepared and checked afterwards.
"""
import fcntl
import http.client
import inspect
import os
import pty
import pwd
import re
import resource
import select
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import termios
import threading
import time

SIX_HOURS = "21600"
KILLED = "killed"  # the status of a program ended by the signal it was sent
ENDING_SIGNALS = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGPIPE, signal.SIGUSR1,
                  signal.SIGALRM]
LONG = "L" * 251  # with ".wav" or ".csv" a name of 255 bytes, the longest a folder takes
ESCAPE = "\x1b]0;owned\x07\x1b[2J"  # sets the terminal's title, clears the screen

# (arguments, prepared, status, first line, afterwards, extras)
# extras: fsize=N  the file size limit (ulimit -f) in bytes
#         tty      standard output is a terminal
#         stop=RE  end the program once a line of standard error matches
#         signal=S send S once the status line shows; the terminal must be
#                  restored afterwards, whatever S does
#         columns=N the terminal is N columns wide (resize=N: narrowed to N,
#                  with SIGWINCH, once the status line shows); every redraw
#                  must stay within N - 1 columns, on one line
#         keys=K   type K once the status line shows, wait for the status
#                  line to match screen=RE, then type q (with end: wait for
#                  the program to end by itself)
#         shown=RE some status line must match
#         last=RE  the status line left on the terminal must match
#         out=RE   standard output must match
#         wine     also a case for the Windows build
#         stdout=closed|full  standard output closed, or /dev/full
#         errtty=RE  standard error is a terminal, and what it shows matches
#         user=U   run as user U (root only: skipped otherwise)
#         shared   the folder is one every user may write (mode 777, no
#                  sticky bit)
#         attack   shared, and while the program runs another user (nobody)
#                  swaps every temporary file (".*.part") for a link to a file
#                  outside the folder, which must stay as it was
#         kill=[S...]  one run per signal S, sent as soon as the program has
#                  its output file open; KILLED: the status of a program the
#                  signal ended
#         fifo=N   the FIFO N is read while the program runs
#         tmpdir   TMPDIR is the case's tmp/
#         needs=P  skipped without program P
#         env=D    the variables in D set for the program (SDL_AUDIODRIVER is
#                  "disk" unless D says otherwise)
#         serve    the server's case (serve-web.sh FREE, needs the web page
#                  built): started while the test holds the build lock, it
#                  must wait for it; then it serves the package's files and
#                  nothing else, answers bad paths with 400, and SIGTERM ends
#                  it and removes its copy (TMPDIR is the case's tmp/)
XM_RENDER = [
    (["--help"], [], 0, None, [], dict(out=r"^usage: xm-render .*--loops N .* 0 to 10000\n.*" + SIX_HOURS, wine=True)),
    (["--version"], [], 0, None, [], dict(out=r"^xm-render \d", wine=True)),
    ([], [], 2, "usage: xm-render IN.xm [-o OUT.wav|-] [--loops N] [--seconds S] [--fade S] [--rows]", [],
     dict(wine=True)),
    (["s.xm", "--seconds", "30000"], ["s.xm"], 2,
     "xm-render: --seconds: 30000 is above the limit of 21600 (6 hours)", ["s.xm"], dict(wine=True)),
    (["s.xm", "--loops", "-1"], ["s.xm"], 2, "xm-render: --loops: -1 is below the limit of 0", ["s.xm"], {}),
    (["s.xm", "--loops", "abc"], ["s.xm"], 2, "xm-render: --loops: 'abc' is not a whole number", ["s.xm"], {}),
    (["s.xm", "--bogus"], ["s.xm"], 2, "xm-render: --bogus: unknown option", ["s.xm"], dict(wine=True)),
    (["s.xm", "--rules", "fast"], ["s.xm"], 2, "xm-render: --rules: 'fast' is not player or tracker", ["s.xm"], {}),
    (["s.xm", "-o", "a.wav", "-o", "b.wav"], ["s.xm"], 2, "xm-render: -o: given twice", ["s.xm"], {}),
    (["s.xm", "--seconds=1"], ["s.xm"], 0, None, ["s.xm", "s.wav"], dict(wine=True)),
    # Loud at the WAV file's limit, said before the long render starts.
    (["s.xm", "--loops", "400", "-o", "fd"], ["s.xm", "fd@"], None,
     r"xm-render: --loops 400: stopped at the WAV file's limit of 6 hours, in order \d+ row \d+",
     ["s.xm", "fd@"], dict(stop="limit")),
    (["s.xm", "-o", "s.xm"], ["s.xm"], 1, "xm-render: s.xm: is the same file as the input s.xm", ["s.xm"],
     dict(wine=True)),
    (["s.xm", "-o", "fd", "--seconds", "1"], ["s.xm", "fd@"], 1,
     "xm-render: fd: cannot write: No space left on device", ["s.xm", "fd@"], {}),
    (["s.xm", "-o", "link.wav", "--seconds", "1"], ["s.xm", "link.wav->out.wav", "out.wav"], 0, None,
     ["s.xm", "link.wav->out.wav", "out.wav"], {}),
    (["s.xm", "-o", "out.wav"], ["s.xm", "out.wav"], 1, "xm-render: out.wav: cannot write: File too large",
     ["s.xm", "out.wav=old"], dict(fsize=100000)),
    (["s.xm", "-o", "-"], ["s.xm"], 1,
     "xm-render: standard output: is a terminal; redirect it to a file or a pipe", ["s.xm"], dict(tty=True)),
    (["dir.xm"], ["dir.xm/"], 1, "xm-render: dir.xm: is a directory", ["dir.xm/"], dict(wine=True)),
    (["empty.xm"], ["empty.xm="], 1, "xm-render: empty.xm: is empty", ["empty.xm="], {}),
    (["missing.xm"], [], 1, "xm-render: missing.xm: cannot open: No such file or directory", [], dict(wine=True)),
    ([ESCAPE + ".xm"], [], 1, "xm-render: ?]0;owned??[2J.xm: cannot open: No such file or directory", [], {}),
    # Numbers are decimal, and each limit is named.
    (["s.xm", "--seconds", "0x10"], ["s.xm"], 2, "xm-render: --seconds: '0x10' is not a decimal number", ["s.xm"], {}),
    (["s.xm", "--seconds", "nan"], ["s.xm"], 2, "xm-render: --seconds: 'nan' is not a decimal number", ["s.xm"], {}),
    (["s.xm", "--seconds", "-1e400"], ["s.xm"], 2,
     "xm-render: --seconds: -1e400 is below the limit of 0.001 (a millisecond)", ["s.xm"], {}),
    (["s.xm", "--seconds", "1e-9"], ["s.xm"], 2,
     "xm-render: --seconds: 1e-9 is below the limit of 0.001 (a millisecond)", ["s.xm"], {}),
    (["--seconds", "1", "--", "-s.xm"], ["-s.xm"], 0, None, ["-s.xm", "-s.wav"], {}),
    # Standard output lost is a failure; /dev/stdout is standard output.
    (["--help"], [], 1, "xm-render: standard output: cannot write: No space left on device", [], dict(stdout="full")),
    (["--info", "s.xm"], ["s.xm"], 1, "xm-render: standard output: cannot write: Bad file descriptor", ["s.xm"],
     dict(stdout="closed")),
    (["s.xm", "--rows", "--seconds", "1"], ["s.xm"], 1,
     "xm-render: standard output: cannot write: No space left on device", ["s.xm", "s.wav"], dict(stdout="full")),
    (["s.xm", "-o", "/dev/stdout", "--seconds", "1"], ["s.xm"], 0, None, ["s.xm"], dict(out=r"^RIFF")),
    (["s.xm", "-o", "/dev/stdout", "--seconds", "1"], ["s.xm"], 1,
     "xm-render: /dev/stdout: is a terminal; redirect it to a file or a pipe", ["s.xm"], dict(tty=True)),
    # A replaced file keeps its owner and mode; one its owner made read-only
    # only when forced.
    (["s.xm", "-o", "out.wav", "--seconds", "1"], ["s.xm", "out.wav!444"], 1,
     "xm-render: out.wav: is read-only; give --force to replace it", ["s.xm", "out.wav=old!444"], {}),
    (["s.xm", "-o", "out.wav", "--seconds", "1", "--force"], ["s.xm", "out.wav!444:nobody"], 0, None,
     ["s.xm", "out.wav!444:nobody"], {}),
    (["s.xm", "-o", "w.wav", "--seconds", "1"], ["s.xm", "w.wav!666"], 1,
     "xm-render: w.wav: cannot replace it, as no new file can be made in its folder: Permission denied",
     ["s.xm", "w.wav=old!666"], dict(user="nobody")),
    (["s.xm", "-o", LONG + ".wav", "--seconds", "1"], ["s.xm", LONG + ".wav"], 0, None, ["s.xm", LONG + ".wav"], {}),
    # Ended by a signal mid-write: the old file stays, no temporary file.
    (["s.xm", "-o", "out.wav", "--rate", "8000", "--seconds", SIX_HOURS], ["s.xm", "out.wav"], KILLED, None,
     ["s.xm", "out.wav=old"], dict(kill=ENDING_SIGNALS)),
    # Another user who may write the folder cannot redirect the output.
    (["s.xm", "-o", "v.wav", "--seconds", "60"], ["s.xm"], 0, None, ["s.xm", "v.wav"], dict(attack=True)),
    (["s.xm", "-o", "v.wav", "--seconds", "1"], ["s.xm", "v.wav->victim!:nobody", "victim"], 1,
     "xm-render: v.wav: is a symbolic link another user made in a folder others may write; not followed",
     ["s.xm", "v.wav->victim", "victim=old"], dict(shared=True)),
]

XM_COMPOSE = [
    (["--help"], [], 0, None, [], dict(out=r"^usage: xm-compose OUT.xm")),
    (["--version"], [], 0, None, [], dict(out=r"^xm-compose \d")),
    ([], [], 2, "usage: xm-compose OUT.xm [--force]", [], {}),
    (["a.xm", "b.xm"], [], 2, "xm-compose: b.xm: one output file only", [], {}),
    (["--out=a.xm"], [], 2, "xm-compose: --out: unknown option", [], {}),
    (["fd"], ["fd@"], 1, "xm-compose: fd: cannot write: No space left on device", ["fd@"], {}),
    (["link.xm"], ["link.xm->new.xm"], 0, None, ["link.xm->new.xm", "new.xm"], {}),
    (["out.xm"], ["out.xm=old"], 1, "xm-compose: out.xm: cannot write: File too large", ["out.xm=old"],
     dict(fsize=50000)),
    (["dir/"], ["dir/"], 1, "xm-compose: dir/: is a directory", ["dir/"], {}),
    ([""], [], 2, "xm-compose: OUT.xm: the name is empty", [], {}),
    (["--", "-a.xm"], [], 0, None, ["-a.xm"], {}),
    ([LONG + ".xm"], [], 0, None, [LONG + ".xm"], {}),
    (["--help"], [], 1, "xm-compose: standard output: cannot write: No space left on device", [], dict(stdout="full")),
    (["out.xm"], ["out.xm=old!444"], 1, "xm-compose: out.xm: is read-only; give --force to replace it",
     ["out.xm=old!444"], {}),
    (["--force", "out.xm"], ["out.xm=old!640:nobody"], 0, None, ["out.xm!640:nobody"], {}),
]

XM_SOAK = [
    (["--help"], [], 0, None, [], dict(out=r"^usage: xm-soak")),
    (["--version"], [], 0, None, [], dict(out=r"^xm-soak \d")),
    ([], [], 2, "usage: xm-soak [--hours H] FILE.xm...", [], {}),
    (["--hours", "abc", "s.xm"], ["s.xm"], 2, "xm-soak: --hours: 'abc' is not a decimal number", ["s.xm"], {}),
    (["--hours", "0x1p-12", "s.xm"], ["s.xm"], 2, "xm-soak: --hours: '0x1p-12' is not a decimal number", ["s.xm"],
     {}),
    (["--hours", "1e-9", "s.xm"], ["s.xm"], 2, "xm-soak: --hours: 1e-9 is below the limit of 0.001 (3.6 seconds)",
     ["s.xm"], {}),
    (["--hours=0.001", "s.xm"], ["s.xm"], 1, "xm-soak: standard output: cannot write: No space left on device",
     ["s.xm"], dict(stdout="full")),
    (["--hours=0.001", "--", "-s.xm"], ["-s.xm"], 0, None, ["-s.xm"], dict(out=r"^-s\.xm: 0\.00 h of music")),
    (["--hours=600", "s.xm"], ["s.xm"], 2, "xm-soak: --hours: 600 is above the limit of 500", ["s.xm"], {}),
    (["--hours=0.001", "s.xm"], ["s.xm"], 0, None, ["s.xm"], dict(out=r"^s\.xm: 0\.00 h of music")),
    (["--hours", "0.001", "dir.xm", "empty.xm"], ["dir.xm/", "empty.xm="], 1, "xm-soak: dir.xm: is a directory",
     ["dir.xm/", "empty.xm="], {}),
]

XM_PLAY = [
    (["--help"], [], 0, None, [], dict(out=r"^usage: xm-play")),
    (["--version"], [], 0, None, [], dict(out=r"^xm-play \d")),
    ([], [], 2, "usage: xm-play [--rules player|tracker] IN.xm...", [], {}),
    (["--loop", "s.xm"], ["s.xm"], 2, "xm-play: --loop: unknown option", ["s.xm"], {}),
    (["--rules", "fast", "s.xm"], ["s.xm"], 2, "xm-play: --rules: 'fast' is not player or tracker", ["s.xm"], {}),
    (["missing.xm"], [], 1, "xm-play: missing.xm: cannot open: No such file or directory", [], {}),
    # No sound: the device is named, not the module, with SDL's reason.
    (["s.xm"], ["s.xm"], 1, "xm-play: no sound device could be opened: Audio target 'nonexistent' not available",
     ["s.xm"], dict(env={"SDL_AUDIODRIVER": "nonexistent"})),
    (["s.xm"], ["s.xm"], 130, None, ["s.xm"], dict(signal=signal.SIGINT)),
    (["s.xm"], ["s.xm"], 143, None, ["s.xm"], dict(signal=signal.SIGTERM)),
    (["s.xm"], ["s.xm"], -signal.SIGQUIT, None, ["s.xm"], dict(signal=signal.SIGQUIT)),
    (["s.xm"], ["s.xm"], -signal.SIGHUP, None, ["s.xm"], dict(signal=signal.SIGHUP)),
    (["s.xm"], ["s.xm"], 0, None, ["s.xm"], dict(columns=30)),
    (["s.xm"], ["s.xm"], 0, None, ["s.xm"], dict(resize=30)),
    # Right skips four orders; the clock then shows the song's position,
    # about half a minute into 2.xm, not the seconds played.
    (["s.xm"], ["s.xm"], 0, None, ["s.xm"], dict(keys="\x1b[C", screen=r" 4/10 \d\d  0:[2-4]\d / ")),
    # A FIFO is read once: no second open that waits for a writer for ever.
    (["f.xm"], ["f.xm|"], 130, None, ["f.xm|"], dict(signal=signal.SIGINT)),
    # The clock keeps time: from order 8, 2.xm's last 15.4 s reach its last
    # row at 1:16 (76.1 s), not a second short, and the song ends there.
    (["s.xm"], ["s.xm"], 0, None, ["s.xm"],
     dict(keys="\x1b[C\x1b[C", screen=r" 8/10 ", end=True, shown=r" 9/10 63  1:16 / 1:16 ")),
    # The line left at the end shows where playback was, not a reset.
    (["s.xm"], ["s.xm"], 0, None, ["s.xm"],
     dict(keys="\x1b[C", screen=r" 4/10 ", last=r" 4/10 \d\d  0:[2-4]\d / 1:16 ")),
]

VANTOR_CAPTURE = [
    (["--help"], [], 0, None, [], dict(out=r"^usage: vantor-capture.*within 0-11554.*16x16 to 8192x8192"
                                            r".*1x1 to 16384x16384.*1 to 1000.*86400")),
    (["--version"], [], 0, None, [], dict(out=r"^vantor-capture \d")),
    ([], [], 2, "usage: vantor-capture [--frames A-B] [--size WxH] [--png DIR] [--cube-trace FILE] [--desktop WxH]",
     [], {}),
    (["--frames", "5-2", "--png", "png"], [], 2, "vantor-capture: --frames: 5-2 ends before it starts", [], {}),
    (["--frames=0-1"], [], 2,
     "vantor-capture: nothing to write: give --png DIR, --cube-trace FILE or --video FILE", [], {}),
    (["--frames=66-67", "--cube-trace=t.csv"], [], 0, None, ["t.csv"], {}),
    (["--frames=66-67", "--cube-trace", "link.csv"], ["link.csv->t.csv"], 0, None,
     ["link.csv->t.csv", "t.csv"], {}),
    (["--frames=66-200", "--cube-trace", "fd"], ["fd@"], 1, "vantor-capture: fd: cannot write: No space left on device",
     ["fd@"], {}),
    (["--frames=66-200", "--cube-trace", "t.csv"], ["t.csv"], 1,
     "vantor-capture: t.csv: cannot write: File too large", ["t.csv=old"], dict(fsize=20000)),
    (["--frames=3000-3000", "--png", "png"], ["png/"], 1,
     "vantor-capture: png/frame-03000.png: cannot write: File too large", ["png/"], dict(fsize=4000)),
    (["--video", "m.mkv", "--music", "m.mkv", "--frames", "0-1", "--size", "64x40"], ["m.mkv"], 1,
     "vantor-capture: m.mkv: is the same file as the input m.mkv", ["m.mkv"], dict(video=True)),
    (["--frames", "999999999-999999999", "--cube-trace", "t.csv"], [], 2,
     "vantor-capture: --frames: 999999999-999999999 is above the limit of 11554, after which nothing is drawn", [],
     {}),
    (["--png", "x", "--cube-trace", "x"], [], 2, "vantor-capture: --cube-trace: 'x' is the folder --png writes to", [],
     {}),
    (["--frames=3000-3000", "--cube-trace", "t.csv"], [], 0, None, ["t.csv"], dict(errtty=r"running up to 3000")),
    (["--frames=0-0", "--png", "loop"], ["loop->loop"], 1,
     "vantor-capture: loop: cannot create the folder: Too many levels of symbolic links", ["loop->loop"], {}),
    (["--frames=0-0", "--png", "png"], ["png->missing"], 1,
     "vantor-capture: png: is a symbolic link to missing, which does not exist", ["png->missing"], {}),
    (["--frames=0-0", "--png", "locked/png"], ["locked/!700"], 1,
     "vantor-capture: locked/png: cannot create the folder: Permission denied", ["locked/!700"], dict(user="nobody")),
    (["--frames=66-67", "--cube-trace", "t.csv"], ["t.csv!444"], 1,
     "vantor-capture: t.csv: is read-only; give --force to replace it", ["t.csv=old!444"], {}),
    (["--frames=66-67", "--cube-trace", LONG + ".csv"], [], 0, None, [LONG + ".csv"], {}),
    (["--frames=0-11554", "--cube-trace", "t.csv"], ["t.csv"], KILLED, None, ["t.csv=old"],
     dict(kill=[signal.SIGINT, signal.SIGHUP, signal.SIGPIPE])),
    (["--frames=0-600", "--png", "png"], ["png/"], KILLED, None, ["png/"], dict(kill=[signal.SIGTERM, signal.SIGQUIT])),
    (["--video", "v.mkv", "--size", "64x40", "--music", "typo.xm"], [], 1,
     "vantor-capture: typo.xm: cannot open: No such file or directory", [], dict(video=True)),
    # The music is read once: a FIFO plays, with no second open that waits
    # for a writer for ever.
    (["--video", "v.mkv", "--size", "64x40", "--frames", "0-30", "--music", "f.xm"], ["f.xm|"], 0, None,
     ["f.xm|", "v.mkv"], dict(video=True)),
    (["--video", "take:1.mp4", "--size", "64x40", "--frames", "0-10", "--music", "s.xm"], ["s.xm"], 0, None,
     ["s.xm", "take:1.mp4"], dict(video=True)),
    (["--video", "f.mp4", "--size", "64x40", "--frames", "0-30", "--music", "s.xm"], ["s.xm", "f.mp4|"], 0, None,
     ["s.xm", "f.mp4|"], dict(video=True, fifo="f.mp4")),
    # Stopped, a video leaves what had its name; any other ending signal
    # leaves nothing either.
    (["--video", "v.mkv", "--size", "64x40", "--music", "s.xm"], ["s.xm", "v.mkv=old"], 143,
     "vantor-capture: stopped; v.mkv is left as it was", ["s.xm", "v.mkv=old"],
     dict(video=True, kill=[signal.SIGTERM])),
    (["--video", "v.mkv", "--size", "64x40", "--music", "s.xm"], ["s.xm", "v.mkv=old"], KILLED, None,
     ["s.xm", "v.mkv=old"], dict(video=True, kill=[signal.SIGHUP, signal.SIGUSR1])),
    (["--video", "v.mp4", "--size", "64x40", "--frames", "0-30", "--music", "s.xm"], ["s.xm"], 0, None,
     ["s.xm", "v.mp4"], dict(video=True, attack=True)),
]

# The port is checked before anything is built; "BUSY" is a port another
# program listens on, "FREE" one nobody does, "UNPRIVILEGED" the lowest port
# any user may take.
SERVE_WEB = [
    (["x"], [], 2, "serve-web.sh: port 'x': not a port number (1 to 65535)", [], {}),
    (["70000"], [], 2, "serve-web.sh: port '70000': not a port number (1 to 65535)", [], {}),
    ([""], [], 2, "serve-web.sh: port '': not a port number (1 to 65535)", [], {}),
    (["\u0668\u0660\u0660\u0660"], [], 2, "serve-web.sh: port '\u0668\u0660\u0660\u0660': not a port number (1 to 65535)",
     [], {}),
    (["BUSY"], [], 1, "serve-web.sh: port BUSY: in use by another program", [], {}),
    (["80"], [], 1, "serve-web.sh: port 80: only the administrator may serve on ports below UNPRIVILEGED;"
     " choose one from UNPRIVILEGED to 65535", [], dict(user="nobody")),
    (["FREE"], ["tmp/"], 143, None, ["tmp/"], dict(serve=True)),
]

# What the server must answer: (path, status, content type or None).
SERVED = [
    ("/", 200, "text/html"), ("/vantor.wasm", 200, "application/wasm"), ("/2.xm", 200, None),
    ("/CMakeCache.txt", 404, None), ("/compile_commands.json", 404, None), ("/CMakeFiles/", 404, None),
    ("/%00", 400, None), ("/index.html%00.txt", 400, None), ("/..%2fCMakeCache.txt", 400, None),
]

# A page that answers the question at once and marks its first frame, for a
# run of the benchmark without the intro.
QUICK_PAGE = ("web/index.html=<!doctype html><title>quick</title><body data-state=question><div id=question"
              " role=dialog aria-modal=true aria-labelledby=qcaption>"
              "<div class=caption id=qcaption>Vantor Filigree by Kestrel</div><div class=text>fullscreen?</div>"
              "<button data-answer=no onclick=\"performance.mark('vantor-answered');"
              "performance.mark('vantor-first-frame');document.body.dataset.state='running'\">No</button></div>")

# Every run, whatever ends it, leaves nothing in the temporary folder.
WEB_STARTUP = [
    (["--runs", "0"], [], 2, "startup.py: --runs: 0 is below the limit of 1", [], {}),
    (["--engines", "bogus"], [], 2, "startup.py: --engines: 'bogus' is not an engine (chromium, firefox, webkit)",
     [], {}),
    (["--runs", "1", "--engines", "chromium", "web"], ["tmp/", "web/", "web/vantor.wasm=", QUICK_PAGE], 0, None,
     ["tmp/", "web/", "web/vantor.wasm=", "web/index.html"], dict(tmpdir=True, needs="chromium", out=r"chromium +1 ")),
]

PROGRAMS = {"startup.py": WEB_STARTUP, "serve-web.sh": SERVE_WEB, "xm-render": XM_RENDER, "xm-compose": XM_COMPOSE, "xm-soak": XM_SOAK, "xm-play": XM_PLAY,
            "vantor-capture": VANTOR_CAPTURE}


ATTRIBUTES = re.compile(r"!([0-7]{3,4})?(?::(\w+))?$")


def attributes(spec):
    """The spec without its "!MODE:USER" end, the mode (or None) and the user (or None)."""
    found = ATTRIBUTES.search(spec)
    if not found:
        return spec, None, None
    return spec[:found.start()], int(found.group(1), 8) if found.group(1) else None, found.group(2)


def feed_fifo(path, module):
    """Writes the module into the FIFO once a reader opens it."""
    data = open(module, "rb").read()

    def feed():
        try:
            with open(path, "wb") as f:
                f.write(data)
        except OSError:
            pass  # the reader went away

    threading.Thread(target=feed, daemon=True).start()


def prepare(folder, spec, module):
    spec, mode, user = attributes(spec)
    path = os.path.join(folder, spec.split("->")[0].split("=")[0].rstrip("/@|"))
    if "->" in spec:
        name, target = spec.split("->")
        os.symlink(target, os.path.join(folder, name))
    elif spec.endswith("/"):
        os.makedirs(os.path.join(folder, spec), exist_ok=True)
    elif spec.endswith("@"):
        try:
            os.mknod(path, 0o666 | 0o020000, os.makedev(1, 7))  # the kernel's "full" device
        except PermissionError:
            os.symlink("/dev/full", path)  # not root: a link to a stream
    elif spec.endswith("|"):
        os.mkfifo(path)
        if spec.endswith(".xm|"):
            feed_fifo(path, module)
    elif "=" in spec:
        name, text = spec.split("=", 1)
        with open(os.path.join(folder, name), "w") as f:
            f.write(text)
    elif spec.endswith(".xm") or spec.endswith(".mkv"):
        shutil.copy(module, os.path.join(folder, spec))
    else:
        with open(os.path.join(folder, spec), "w") as f:
            f.write("old")
    if user is not None:
        entry = pwd.getpwnam(user)
        os.lchown(path, entry.pw_uid, entry.pw_gid)
    if mode is not None:
        os.chmod(path, mode)


def describe(folder):
    """The folder's contents in the notation of the case lists."""
    found = set()
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(root, name)
            rel = os.path.relpath(path, folder)
            if os.path.islink(path):
                target = os.readlink(path)
                found.add(rel + "@" if target == "/dev/full" else rel + "->" + target)
            elif os.path.isdir(path):
                found.add(rel + "/")
            elif stat.S_ISFIFO(os.stat(path).st_mode):
                found.add(rel + "|")
            elif not os.path.isfile(path):
                found.add(rel + "@")
            else:
                found.add(rel)
    return found


def matches(folder, expected):
    """The expected paths are exactly those present, contents, permissions
    and owners as given."""
    problems = []
    plain = []
    for e in expected:
        e, mode, user = attributes(e)
        plain.append(e)
        path = os.path.join(folder, e.split("->")[0].split("=")[0].rstrip("/@|"))
        if not os.path.lexists(path):
            continue
        status = os.lstat(path)
        if mode is not None and stat.S_IMODE(status.st_mode) != mode:
            problems.append(f"{e} has the mode {stat.S_IMODE(status.st_mode):o}, expected {mode:o}")
        if user is not None and status.st_uid != pwd.getpwnam(user).pw_uid:
            problems.append(f"{e} belongs to {pwd.getpwuid(status.st_uid).pw_name}, expected {user}")
    names = {e.split("=", 1)[0] for e in plain}
    found = describe(folder)
    if found != names:
        problems.append(f"the folder holds {sorted(found)}, expected {sorted(names)}")
    for e in plain:
        if "=" in e:
            name, text = e.split("=", 1)
            path = os.path.join(folder, name)
            if os.path.isfile(path) and open(path, "rb").read() != text.encode():
                problems.append(f"{name} was changed")
        elif "->" not in e and not e.endswith("/") and not e.endswith("@") and not e.endswith("|"):
            path = os.path.join(folder, e)
            if os.path.isfile(path) and os.path.getsize(path) == 0:
                problems.append(f"{e} is empty")
    return problems


def attack(folder, victim):
    """Run as another user while the program writes into the shared folder:
    every temporary file that shows up is moved aside and its name becomes a
    link to the victim, a file outside the folder. On SIGTERM it removes what
    it made and ends."""
    import os, signal
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(True))
    made, seen = [], set()
    print("ready", flush=True)
    while not stop:
        try:
            names = os.listdir(folder)
        except OSError:
            names = []
        for name in names:
            path = os.path.join(folder, name)
            if name in seen or not (name.startswith(".") and name.endswith(".part")) or os.path.islink(path):
                continue
            seen.add(name)
            try:
                os.rename(path, path + ".moved")
                made.append(path + ".moved")
                os.symlink(victim, path)
                made.append(path)
            except OSError:
                pass
    for path in made:
        try:
            os.rmdir(path) if os.path.isdir(path) and not os.path.islink(path) else os.unlink(path)
        except OSError:
            pass


def as_user(name):
    entry = pwd.getpwnam(name)

    def switch():
        os.setgroups([])
        os.setgid(entry.pw_gid)
        os.setuid(entry.pw_uid)
    return switch


def runs_as(user, command):
    """The program can be started by that user (its folders may be closed to them)."""
    # The server takes no --version: for a script, being able to execute it is enough.
    probe = ["test", "-x", command[0]] if command[0].endswith(".sh") else command + ["--version"]
    try:
        return subprocess.run(probe, preexec_fn=as_user(user), capture_output=True).returncode == 0
    except OSError:
        return False


def output_open(pid, folder):
    """The program holds a file open in the folder that is not there by its
    name: a hidden temporary one, or one with no name yet."""
    try:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
            if target.startswith(folder + "/") and (target.endswith(".part") or target.endswith("(deleted)")):
                return True
    except OSError:
        pass
    return False


def drain_fifo(path, got):
    with open(path, "rb") as f:
        while True:
            block = f.read(65536)
            if not block:
                return
            got.append(len(block))


def own_line(stderr, program):
    for line in stderr.splitlines():
        if line.startswith(program + ":") or line.startswith("usage:"):
            return line
    return None


def run_case(program, command, args, extras, folder, env, sent=None):
    limit = extras.get("fsize")
    user = extras.get("user")

    def limits():
        if limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        if extras.get("stdout") == "closed":
            os.close(1)
        if user is not None:
            as_user(user)()

    if "signal" in extras or "keys" in extras or "columns" in extras or "resize" in extras:
        return run_on_terminal(command + args, extras, folder, env)
    if extras.get("serve"):
        return run_server(command, args, folder, env)
    stdout = subprocess.PIPE
    stderr = subprocess.PIPE
    master = slave = None
    if extras.get("tty") or "errtty" in extras:
        master, slave = pty.openpty()
        if extras.get("tty"):
            stdout = slave
        else:
            stderr = slave
    if extras.get("stdout") == "full":
        stdout = open("/dev/full", "w")
    problems = []
    fifo = None
    if "fifo" in extras:
        got = []
        fifo = threading.Thread(target=drain_fifo, args=(os.path.join(folder, extras["fifo"]), got), daemon=True)
        fifo.start()
    if extras.get("tmpdir"):
        env = dict(env, TMPDIR=os.path.join(folder, "tmp"))
    p = subprocess.Popen(command + args, cwd=folder, env=env, stdin=subprocess.DEVNULL, stdout=stdout,
                         stderr=stderr, preexec_fn=limits, text=True, errors="replace")
    if slave is not None:
        os.close(slave)
    if sent is not None:
        until = time.time() + 30
        while time.time() < until and p.poll() is None and not output_open(p.pid, folder):
            time.sleep(0.001)
        if p.poll() is not None or not output_open(p.pid, folder):
            problems.append("the output was never open")
        p.send_signal(sent)
    if "stop" in extras:
        err = ""
        for line in p.stderr:
            err += line
            if re.search(extras["stop"], line):
                break
        p.kill()
        p.wait()
        out = ""
    elif "errtty" in extras:
        screen = b""
        while True:
            try:
                block = os.read(master, 4096)
            except OSError:  # the program has ended and closed the terminal
                break
            if not block:
                break
            screen += block
        out, _ = p.communicate(timeout=120)
        err = screen.decode(errors="replace")
        if not re.search(extras["errtty"], err):
            problems.append(f"the terminal shows {err[-200:]!r}, expected {extras['errtty']!r}")
    else:
        try:
            out, err = p.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            p.kill()
            out, err = p.communicate()
            err += "\n(timed out)"
    if master is not None:
        os.close(master)
    if fifo is not None:
        if fifo.is_alive():  # never opened for writing: let the reader go
            os.close(os.open(os.path.join(folder, extras["fifo"]), os.O_WRONLY | os.O_NONBLOCK))
        fifo.join(5)
        if not got:
            problems.append("nothing came through the FIFO")
    return p.returncode, out or "", err, problems


def threads_of(pid):
    """What a hung process's threads wait in, and its signal masks, so that a
    rare hang can be told apart from a lost signal."""
    def read(path):
        try:
            with open(path) as f:
                return f.read().strip()
        except OSError:
            return "?"
    masks = [line for line in read(f"/proc/{pid}/status").splitlines()
             if line.split(":")[0] in ("SigPnd", "ShdPnd", "SigBlk", "SigIgn", "SigCgt")]
    threads = []
    for tid in sorted(os.listdir(f"/proc/{pid}/task")) if os.path.isdir(f"/proc/{pid}/task") else []:
        task = f"/proc/{pid}/task/{tid}"
        state = (read(f"{task}/stat").rsplit(")", 1)[-1].split() or ["?"])[0]
        blocked = [line for line in read(f"{task}/status").splitlines() if line.startswith(("SigPnd", "SigBlk"))]
        threads.append(f"{read(task + '/comm')} {state} in {read(task + '/wchan')} {' '.join(blocked)}")
    return "; ".join(masks + threads).replace("\t", " ")


def run_on_terminal(command, extras, folder, env):
    """Plays on a pseudo-terminal; once the status line runs, sends a signal or
    types keys, and checks that the terminal's line mode and echo came back."""
    master, slave = pty.openpty()
    width = extras.get("columns") or extras.get("resize")

    def set_width(columns):
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))

    if "columns" in extras:
        set_width(width)
    # No core file from SIGQUIT in the case's folder.
    p = subprocess.Popen(command, cwd=folder, env=env, stdin=slave, stdout=slave, stderr=subprocess.PIPE,
                         start_new_session=True, text=True,
                         preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0)))
    screen = b""

    def read_until(done, seconds):
        nonlocal screen
        until = time.time() + seconds
        while time.time() < until and not done():
            if select.select([master], [], [], 0.2)[0]:
                screen += os.read(master, 4096)
        return done()

    problems = []
    read_until(lambda: b" / " in screen, 20)
    # The status line as it reads now: the last one drawn (a new line
    # reaches the terminal as "\r\n").
    status = lambda: ([""] + [s for s in screen.decode(errors="replace").split("\r") if s.strip()])[-1]
    if "keys" in extras:
        os.write(master, extras["keys"].encode())
        if not read_until(lambda: re.search(extras["screen"], status()), 10):
            problems.append(f"the status line shows {status()!r}, expected {extras['screen']!r}")
        if not extras.get("end"):
            os.write(master, b"q")
    elif width:
        mark = screen.find(b"\n") + 1  # the module's summary line is a line of its own
        if "resize" in extras:
            # Not the session's controlling terminal: the resize is told as a
            # terminal would tell it.
            set_width(width)
            p.send_signal(signal.SIGWINCH)
            read_until(lambda: False, 0.3)
            mark = len(screen)
        read_until(lambda: False, 1)
        os.write(master, b"q")
    else:
        p.send_signal(extras["signal"])
    # The terminal is read meanwhile, so that the status line never blocks.
    wait = 60 if extras.get("end") else 10
    if not read_until(lambda: p.poll() is not None, wait):
        problems.append(f"still running {wait} s later; " + threads_of(p.pid))
        p.kill()
    p.wait()
    read_until(lambda: not select.select([master], [], [], 0.2)[0], 2)
    lines = [line.strip() for line in screen.decode(errors="replace").split("\r")]
    if "shown" in extras and not any(re.search(extras["shown"], line) for line in lines):
        problems.append(f"no status line matches {extras['shown']!r}; the last is {status().strip()!r}")
    if "last" in extras and not re.search(extras["last"], status()):
        problems.append(f"the line left reads {status().strip()!r}, expected {extras['last']!r}")
    mode = termios.tcgetattr(slave)[3]
    if not (mode & termios.ICANON and mode & termios.ECHO):
        problems.append("the terminal was left without line mode and echo")
    if width:
        read_until(lambda: False, 0.2)
        drawn = screen[mark:].rstrip(b"\r\n")
        if b"\n" in drawn:
            problems.append(f"the status line scrolled a new line on a {width}-column terminal")
        wide = [s for s in drawn.split(b"\r") if len(s) > width - 1]
        if wide:
            problems.append(f"a status line of {len(wide[0])} columns on a {width}-column terminal: {wide[0]!r}")
    err = p.stderr.read()
    os.close(slave)
    os.close(master)
    return p.returncode, screen.decode(errors="replace"), err, problems


def run_server(command, args, folder, env):
    """Starts serve-web.sh while holding its build lock, then asks it for the
    paths in SERVED and stops it with SIGTERM."""
    problems = []
    lock = open(os.path.join(os.path.dirname(os.path.dirname(command[0])), "build", "serve-web.lock"), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    p = subprocess.Popen(command + args, cwd=folder, env=dict(env, TMPDIR=os.path.join(folder, "tmp")),
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    said = {"out": "", "err": ""}

    def collect(stream, key):
        for line in stream:
            said[key] += line

    # Daemons: a server left behind would hold the pipes open.
    readers = [threading.Thread(target=collect, args=(p.stdout, "out"), daemon=True),
               threading.Thread(target=collect, args=(p.stderr, "err"), daemon=True)]
    for r in readers:
        r.start()

    def wait_for(key, text, seconds):
        until = time.time() + seconds
        while time.time() < until and text not in said[key] and p.poll() is None:
            time.sleep(0.1)
        return text in said[key]

    if not wait_for("err", "waiting for it", 10):
        problems.append("did not wait for the build lock another copy holds")
    lock.close()
    if wait_for("out", "Serving", 300):
        port = int(re.search(r"127\.0\.0\.1:(\d+)/", said["out"]).group(1))
        for path, status, kind in SERVED:
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            try:
                connection.request("GET", path)
                reply = connection.getresponse()
                reply.read()
                if reply.status != status or (kind and not reply.getheader("Content-Type", "").startswith(kind)):
                    problems.append(f"GET {path}: {reply.status} {reply.getheader('Content-Type')},"
                                    f" expected {status} {kind or ''}".rstrip())
            except (OSError, http.client.HTTPException) as e:
                problems.append(f"GET {path}: no reply ({e!r})")
            finally:
                connection.close()
        p.send_signal(signal.SIGTERM)
        try:
            p.wait(timeout=10)
        except subprocess.TimeoutExpired:
            problems.append("still running 10 s after SIGTERM")
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", port)) == 0:
                problems.append(f"something still serves on port {port} after SIGTERM")
    else:
        problems.append("never said that it serves")
    if p.poll() is None:
        p.kill()
    p.wait()
    for r in readers:
        r.join(timeout=5)
        if r.is_alive():
            problems.append("something it started still holds its output open")
    return p.returncode, said["out"], said["err"], problems


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    program, exe, module, scratch = sys.argv[1:5]
    wine = sys.argv[5:] == ["wine"]
    if not os.path.exists(exe):
        print(f"SKIP: {exe} has not been built")
        sys.exit(77)
    env = dict(os.environ, SDL_AUDIODRIVER="disk", LP_NUM_THREADS="0")
    command = [os.path.abspath(exe)]
    if wine:
        if not shutil.which("wine"):
            print("SKIP: wine is not installed")
            sys.exit(77)
        prefix = os.path.abspath(os.path.join(scratch, "..", "wineprefix"))
        env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        if not os.path.exists(os.path.join(prefix, "system.reg")):
            subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=env)
        command = ["wine", os.path.abspath(exe)]
    module = os.path.abspath(module)
    scratch = os.path.abspath(scratch)
    shutil.rmtree(scratch, ignore_errors=True)
    failures = 0
    cases = [c for c in PROGRAMS[program] if not wine or c[5].get("wine")]
    for number, (args, prepared, status, first, afterwards, extras) in enumerate(cases):
        shown = [a if len(a) < 40 else a[:12] + "..." + a[-8:] for a in args]
        label = "".join(c if c.isprintable() else "?" for c in f"{program} {' '.join(shown)}".strip())
        if "signal" in extras:
            label += f" ({extras['signal'].name})"
        if "keys" in extras:
            label += " (end)" if extras.get("end") else " (skip)"
        if "last" in extras:
            label += " (line left)"
        if "columns" in extras or "resize" in extras:
            label += f" ({'narrowed to ' if 'resize' in extras else ''}{extras.get('columns') or extras['resize']} columns)"
        if extras.get("video") and subprocess.run(command + ["--video", "x.avi"], capture_output=True).returncode != 2:
            print(f"skip {label}: no video output in this build")
            continue
        if extras.get("needs") and not shutil.which(extras["needs"]):
            print(f"skip {label}: {extras['needs']} is not installed")
            continue
        if extras.get("serve") and not os.path.exists(
                os.path.join(os.path.dirname(os.path.dirname(command[0])), "build", "web", "vantor.wasm")):
            print(f"skip {label}: the web page has not been built")
            continue
        if extras.get("user") and program == "serve-web.sh" and unprivileged_port_start() <= 80:
            print(f"skip {label}: any user may serve on port 80 here")
            continue
        other_user = ("user" in extras or "shared" in extras or "attack" in extras or
                      any(attributes(spec)[2] for spec in prepared + afterwards))
        if other_user and os.geteuid() != 0:
            print(f"skip {label}: needs root, to act as a second user")
            continue
        if "user" in extras and not runs_as(extras["user"], command):
            print(f"skip {label}: {extras['user']} cannot run {command[-1]}")
            continue
        for sent in extras.get("kill", [None]):
            name = f"{number}" if sent is None else f"{number}-{sent.name}"
            problems = run_row(program, command, module, scratch, name, env,
                               (args, prepared, status, first, afterwards, extras), sent)
            shown_label = label if sent is None else f"{label} ({sent.name})"
            if problems:
                failures += 1
                print(f"FAIL {shown_label}: " + "; ".join(problems[1:]))
                if problems[0]:
                    err = "".join(c if c.isprintable() or c == "\n" else "?" for c in problems[0].strip())
                    print("  standard error: " + err.replace("\n", "\n  "))
            else:
                print(f"ok   {shown_label}")
    sys.exit(1 if failures else 0)


def unprivileged_port_start():
    """The lowest port any user may serve on here."""
    try:
        with open("/proc/sys/net/ipv4/ip_unprivileged_port_start") as f:
            return int(f.read())
    except OSError:
        return 1024


def run_row(program, command, module, scratch, name, env, row, sent):
    """One run of a case; [standard error, problem...], or [] when it held."""
    args, prepared, status, first, afterwards, extras = row
    folder = os.path.join(scratch, name)
    os.makedirs(folder)
    disk = os.path.join(scratch, f"{name}.raw")
    for spec in prepared:
        prepare(folder, spec, module)
    attacker = None
    victim = os.path.join(scratch, f"{name}.victim")
    if extras.get("shared") or extras.get("attack"):
        os.chmod(folder, 0o777)
    if extras.get("attack"):
        with open(victim, "w") as f:
            f.write("victim")
        code = inspect.getsource(attack) + "\nimport sys\nattack(sys.argv[1], sys.argv[2])\n"
        # The system's Python: the one running this may sit where nobody cannot reach.
        python = shutil.which("python3", path="/usr/bin:/bin") or sys.executable
        # In the folder, so that no folder above it needs to be open to nobody.
        attacker = subprocess.Popen([python, "-c", code, ".", victim], cwd=folder, stdout=subprocess.PIPE,
                                    preexec_fn=as_user("nobody"), text=True)
        attacker.stdout.readline()
    busy = socket.socket()
    busy.bind(("127.0.0.1", 0))
    busy.listen()
    port = str(busy.getsockname()[1])
    with socket.socket() as free:
        free.bind(("127.0.0.1", 0))
        free_port = str(free.getsockname()[1])
    args = [a.replace("BUSY", port).replace("FREE", free_port) for a in args]
    first = first.replace("BUSY", port).replace("UNPRIVILEGED", str(unprivileged_port_start())) if first else first
    status_got, out, err, problems = run_case(program, command, args, extras, folder,
                                              dict(env, SDL_DISKAUDIOFILE=disk, **extras.get("env", {})), sent)
    busy.close()
    if attacker is not None:
        attacker.terminate()
        attacker.wait()
        if open(victim, "rb").read() != b"victim":
            problems.append("the other user's link sent the output into a file outside the folder")
    if status == KILLED:
        status = -sent
    if status is not None and status_got != status:
        problems.append(f"exit status {status_got}, expected {status}")
    line = own_line(err, program)
    if first is None and line is not None and status == 0:
        problems.append(f"said {line!r}")
    if first is not None and (line is None or not re.fullmatch(first if "stop" in extras else re.escape(first),
                                                               line)):
        problems.append(f"first line {line!r}, expected {first!r}")
    if "out" in extras and not re.search(extras["out"], out, re.S):
        problems.append(f"standard output {out[:200]!r} does not match {extras['out']!r}")
    problems += matches(folder, afterwards)
    return [err] + problems if problems else []


if __name__ == "__main__":
    main()
