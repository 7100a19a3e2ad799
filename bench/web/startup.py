#!/usr/bin/env python3
"""Start-up time of the web page in each browser engine: from the click on
No to the intro's first frame (the page's performance marks
'vantor-answered' and 'vantor-first-frame'), the page served by a plain
static server, each engine driven as the end-to-end tests drive it.

Usage: bench/web/startup.py [--runs N] [--engines chromium,firefox,webkit] [WEB_DIR]
  WEB_DIR defaults to build/web. Each engine starts once and loads the page
  N times (default 5); prints every run, then the median and the fastest.
"""
import argparse
import os
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("web", nargs="?", default=os.path.join(ROOT, "build", "web"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--engines", default=",".join(web_engines.ENGINES))
    args = parser.parse_args()
    if not os.path.isfile(os.path.join(args.web, "vantor.wasm")):
        print(f"{args.web}/vantor.wasm has not been built (cmake --build --preset web)", file=sys.stderr)
        return 1
    scratch = tempfile.mkdtemp(prefix="web-startup-")
    server, base = web_engines.serve(os.path.abspath(args.web))
    results = {}
    try:
        for name in args.engines.split(","):
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
        server.shutdown()
    print(f"\n{'engine':10} {'runs':>4} {'median ms':>10} {'min ms':>8}   click on No -> first intro frame")
    for name, times in results.items():
        print(f"{name:10} {len(times):4} {statistics.median(times):10.0f} {min(times):8.0f}")
    return 0 if results else 1


if __name__ == "__main__":
    sys.exit(main())
