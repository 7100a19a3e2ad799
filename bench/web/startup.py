#!/usr/bin/env python3
"""Start-up time of the web page in each browser engine: from the click on
No to the intro's first frame (the page's performance marks
'vantor-answered' and 'vantor-first-frame'), the page served by a plain
static server, each engine driven as the end-to-end tests drive it.

Usage: bench/web/startup.py [--runs N] [--engines chromium,firefox,webkit] [WEB_DIR]
  WEB_DIR defaults to build/web. Each engine starts once and loads the page
  N times (default 5, 1 to 1000); prints every run, then the median and the
  fastest. The browsers' profiles live in a temporary folder that goes when
  the run ends, however it ends (Ctrl-C, SIGTERM and SIGHUP included).
"""
import argparse
import os
import re
import shutil
import signal
import statistics
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import web_cases  # noqa: E402
import web_engines  # noqa: E402


def one_run(page, url):
    page.open(url)
    web_cases.answer_question(page, "no")
    web_cases.wait_for(page, "document.body.dataset.state === 'running'", 120, "the first frame")
    marks = page.js("['vantor-answered', 'vantor-first-frame']"
                    ".map(n => performance.getEntriesByName(n)[0]?.startTime ?? null)")
    if None in marks:
        raise web_engines.Failure(f"a performance mark is missing: {marks}")
    return marks[1] - marks[0]


MAX_RUNS = 1000


class Parser(argparse.ArgumentParser):
    def error(self, message):
        """One line, as the project's tools say it, and status 2."""
        message = re.sub(r"^argument ([^:]+): ", r"\1: ", message)
        print(f"startup.py: {message}\ntry 'startup.py --help'", file=sys.stderr)
        sys.exit(2)


def runs(text):
    if not re.fullmatch(r"[0-9]+", text):
        raise argparse.ArgumentTypeError(f"{text!r} is not a whole number")
    if not 1 <= int(text) <= MAX_RUNS:
        raise argparse.ArgumentTypeError(
            f"{int(text)} is {'below the limit of 1' if int(text) < 1 else f'above the limit of {MAX_RUNS}'}")
    return int(text)


def engines(text):
    names = text.split(",")
    for name in names:
        if name not in web_engines.ENGINES:
            raise argparse.ArgumentTypeError(f"{name!r} is not an engine ({', '.join(web_engines.ENGINES)})")
    return names


def stop(number, frame):
    raise SystemExit(128 + number)


def main():
    parser = Parser(description=__doc__.split("\n\n")[0])
    parser.add_argument("web", nargs="?", default=os.path.join(ROOT, "build", "web"))
    parser.add_argument("--runs", type=runs, default=5, help=f"page loads per engine, 1 to {MAX_RUNS} (default 5)")
    parser.add_argument("--engines", type=engines, default=list(web_engines.ENGINES),
                        help=f"a comma-separated list of {', '.join(web_engines.ENGINES)} (default: all)")
    args = parser.parse_args()
    if not os.path.isfile(os.path.join(args.web, "vantor.wasm")):
        print(f"{args.web}/vantor.wasm has not been built (cmake --build --preset web)", file=sys.stderr)
        return 1
    # The way out runs through the finally below, whatever ends the run.
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGHUP, stop)
    scratch = tempfile.mkdtemp(prefix="web-startup-")
    server = None
    results = {}
    try:
        server, base = web_engines.serve(os.path.abspath(args.web))
        for name in args.engines:
            page = web_engines.make(name, scratch)
            try:
                page.start()
                times = []
                for i in range(args.runs):
                    times.append(one_run(page, base + "index.html"))
                    web_engines.log(f"{name} run {i + 1}: {times[-1]:.0f} ms from the click to the first frame")
                results[name] = times
            except (web_engines.EngineMissing, web_engines.Failure) as e:
                web_engines.log(f"{name}: {e}")
            finally:
                page.close()
    finally:
        if server:
            server.shutdown()
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"\n{'engine':10} {'runs':>4} {'median ms':>10} {'min ms':>8}   click on No -> first intro frame")
    for name, times in results.items():
        print(f"{name:10} {len(times):4} {statistics.median(times):10.0f} {min(times):8.0f}")
    return 0 if results else 1


if __name__ == "__main__":
    sys.exit(main())
