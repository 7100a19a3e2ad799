#!/usr/bin/env python3
"""End-to-end checks of the web page in headless Chromium.

Usage: web_cases.py WEB_BUILD_DIR CASE SCRATCH_DIR
  CASE: windowed  answer No: the question, an 840x525 canvas centred, rainbow
                  cubes, a running caption, sound playing and refilled,
                  Escape ends it; prints the page's size and start-up time
        fullscreen answer Yes: the whole screen when the browser grants it,
                  else the window; no running caption; Escape ends it
        silent    no 2.xm beside the page: no sound, the intro still runs

The page is served from a local server with the cross-origin isolation
headers threads need; the browser is driven over its DevTools protocol on a
pipe. Exit 77 (skip) when the build or the browser is missing.
"""
import fcntl
import functools
import http.server
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import base64

HERE = os.path.dirname(os.path.abspath(__file__))
NAME = "Vantor Filigree by Kestrel"
TITLE_RE = re.compile(r"^" + re.escape(NAME) + r" - [0-9]{2,}:[0-9]{2}:[0-9]{2}  \[[0-9]+ fps\]$")
VIEW_W, VIEW_H = 1920, 1080


def log(msg):
    print(f"[{time.strftime('%H:%M:%S')}] {msg}", flush=True)


def skip(reason):
    print(f"SKIP: {reason}", flush=True)
    sys.exit(77)


class Failure(Exception):
    pass


def check(cond, msg):
    if not cond:
        raise Failure(msg)


# --- The page's server ---------------------------------------------------------

class Handler(http.server.SimpleHTTPRequestHandler):
    hidden = ()

    def end_headers(self):
        # Threads need shared memory, which needs a cross-origin-isolated page.
        self.send_header("Cross-Origin-Opener-Policy", "same-origin")
        self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def send_head(self):
        if os.path.basename(self.path.split("?")[0]) in self.hidden:
            self.send_error(404)
            return None
        return super().send_head()

    def log_message(self, *args):
        pass


def serve(folder, hidden=()):
    handler = functools.partial(type("H", (Handler,), {"hidden": hidden}), directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


# --- The browser ---------------------------------------------------------------

def find_chromium():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class Browser:
    """Chromium with the DevTools protocol on fds 3 (in) and 4 (out)."""

    def __init__(self, exe, profile):
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()
        keep = [fcntl.fcntl(to_browser_r, fcntl.F_DUPFD, 10), fcntl.fcntl(from_browser_w, fcntl.F_DUPFD, 10)]

        def child_fds():
            os.dup2(keep[0], 3)
            os.dup2(keep[1], 4)

        args = [exe, "--headless", "--remote-debugging-pipe", "--no-sandbox",
                "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--ignore-gpu-blocklist",
                "--no-first-run", "--no-default-browser-check", "--disable-extensions",
                "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
                f"--window-size={VIEW_W},{VIEW_H}", f"--user-data-dir={profile}", "about:blank"]
        self.stderr = open(os.path.join(profile, "..", "chromium-stderr.txt"), "wb")
        self.proc = subprocess.Popen(args, preexec_fn=child_fds, close_fds=False,
                                     stdout=subprocess.DEVNULL, stderr=self.stderr)
        for fd in [to_browser_r, from_browser_w] + keep:
            os.close(fd)
        self.next_id = 0
        self.replies = {}
        self.events = []
        self.cond = threading.Condition()
        self.alive = True
        threading.Thread(target=self._read, daemon=True).start()
        self.session = None

    def _read(self):
        pending = b""
        while True:
            chunk = os.read(self.from_browser, 65536)
            if not chunk:
                break
            pending += chunk
            while b"\0" in pending:
                raw, pending = pending.split(b"\0", 1)
                msg = json.loads(raw)
                with self.cond:
                    if "id" in msg:
                        self.replies[msg["id"]] = msg
                    else:
                        self.events.append(msg)
                    self.cond.notify_all()
        with self.cond:
            self.alive = False
            self.cond.notify_all()

    def call(self, method, params=None, session=True, timeout=30):
        self.next_id += 1
        ident = self.next_id
        msg = {"id": ident, "method": method, "params": params or {}}
        if session and self.session:
            msg["sessionId"] = self.session
        try:
            os.write(self.to_browser, json.dumps(msg).encode() + b"\0")
        except OSError as e:
            raise Failure(f"the browser is gone ({e})")
        deadline = time.time() + timeout
        with self.cond:
            while ident not in self.replies:
                left = deadline - time.time()
                if left <= 0 or not self.alive:
                    raise Failure(f"no answer from the browser to {method}")
                self.cond.wait(left)
            reply = self.replies.pop(ident)
        if "error" in reply:
            raise Failure(f"{method}: {reply['error']}")
        return reply.get("result", {})

    def attach_page(self):
        targets = self.call("Target.getTargets", session=False)["targetInfos"]
        page = next((t for t in targets if t["type"] == "page"), None)
        if page is None:
            page = {"targetId": self.call("Target.createTarget", {"url": "about:blank"}, session=False)["targetId"]}
        self.session = self.call("Target.attachToTarget", {"targetId": page["targetId"], "flatten": True},
                                 session=False)["sessionId"]
        self.call("Runtime.enable")
        self.call("Page.enable")

    def js(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "awaitPromise": True})
        if "exceptionDetails" in result:
            raise Failure(f"{expression}: {result['exceptionDetails'].get('text')}")
        return result["result"].get("value")

    def wait_for(self, expression, timeout, what):
        deadline = time.time() + timeout
        while time.time() < deadline:
            value = self.js(expression)
            if value:
                return value
            time.sleep(0.1)
        raise Failure(f"timed out waiting for {what} (state {self.js('document.body && document.body.dataset.state')})")

    def console(self):
        lines = []
        for e in self.events:
            if e.get("method") == "Runtime.consoleAPICalled":
                lines.append(" ".join(str(a.get("value", a.get("description", ""))) for a in e["params"]["args"]))
            elif e.get("method") == "Runtime.exceptionThrown":
                lines.append("exception: " + json.dumps(e["params"]["exceptionDetails"])[:400])
        return lines

    def click(self, selector):
        box = self.js(f"(() => {{ const r = document.querySelector({json.dumps(selector)}).getBoundingClientRect();"
                      " return [r.x + r.width / 2, r.y + r.height / 2]; })()")
        for kind in ("mouseMoved", "mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", {"type": kind, "x": box[0], "y": box[1],
                                                   "button": "left", "clickCount": 1})

    def press_escape(self):
        for kind in ("rawKeyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", {"type": kind, "key": "Escape", "code": "Escape",
                                                 "windowsVirtualKeyCode": 27, "nativeVirtualKeyCode": 27})

    def close(self):
        if self.stderr.closed:
            return
        try:
            if self.proc.poll() is None:
                self.call("Browser.close", session=False, timeout=5)
        except (Failure, OSError):
            pass
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.stderr.close()


# --- Checks ----------------------------------------------------------------------

def scroller_shot_problem(browser, rect, png):
    shot = browser.call("Page.captureScreenshot", {"format": "png", "clip": {
        "x": rect["x"], "y": rect["y"], "width": rect["w"], "height": rect["h"], "scale": 1}})
    with open(png, "wb") as f:
        f.write(base64.b64decode(shot["data"]))
    # The same colour-count and coverage rules as the native screenshots.
    out = subprocess.run(["bash", "-c", f'. "{HERE}/lib.sh"; e2e_png_scroller_problem "$@"', "-",
                          png, str(rect["w"]), str(rect["h"])], capture_output=True, text=True)
    sys.stdout.write(out.stderr)
    return None if out.returncode == 0 else (out.stdout.strip() or "screenshot check failed")


def answer_question(browser, answer):
    box = browser.wait_for("(() => { const q = document.getElementById('question');"
                           " return q && [q.querySelector('.caption').textContent,"
                           " q.querySelector('.text').textContent]; })()", 60, "the question")
    check(box == [NAME, "fullscreen?"], f"the question reads {box}")
    browser.click(f"#question button[data-answer={answer}]")
    log(f"answered {answer}")


def canvas_rect(browser):
    return browser.js("(() => { const c = document.getElementById('canvas'), r = c.getBoundingClientRect();"
                      " return {w: c.width, h: c.height, x: r.x, y: r.y, cw: r.width, ch: r.height,"
                      " vw: innerWidth, vh: innerHeight}; })()")


def wait_running_title(browser):
    # The title element's own text: document.title folds the double space.
    pattern = json.dumps(TITLE_RE.pattern)
    return browser.wait_for(f"(() => {{ const t = document.querySelector('title').textContent;"
                            f" return new RegExp({pattern}).test(t) && t; }})()", 90, "a running caption")


def end_with_escape(browser):
    browser.press_escape()
    browser.wait_for("document.body.dataset.state === 'ended'"
                     " && getComputedStyle(document.getElementById('ended')).display !== 'none'",
                     20, "the page to show that the intro ended")
    log("Escape ended the intro")


def case_windowed(browser, work):
    answer_question(browser, "no")
    title = wait_running_title(browser)
    log(f"caption: {title}")
    rect = canvas_rect(browser)
    log(f"canvas {rect}")
    check((rect["w"], rect["h"], rect["cw"], rect["ch"]) == (840, 525, 840, 525),
          f"canvas is {rect['w']}x{rect['h']} shown at {rect['cw']}x{rect['ch']}, expected 840x525")
    dx = rect["x"] + 420 - rect["vw"] / 2
    dy = rect["y"] + 262.5 - rect["vh"] / 2
    check(abs(dx) <= 1 and abs(dy) <= 1, f"canvas not centred (off by {dx},{dy})")

    # The letters enter after a number of frames, and a loaded machine draws
    # slowly in software.
    problem, deadline = "no screenshot", time.time() + 90
    while time.time() < deadline:
        problem = scroller_shot_problem(browser, rect, os.path.join(work, "scroller.png"))
        if problem is None:
            break
        time.sleep(1)
    check(problem is None, problem)

    # The sound: the context runs, the worklet plays, the count of bytes
    # heard moves on with the clock, and the output thread refills the
    # looping buffer (its contents change as the song goes on).
    first = browser.js("vantor.audioStatus()")
    log(f"audio {first}")
    check(first["state"] == "running", f"the audio context is {first['state']}")
    check(first["playing"], "the audio worklet is not playing")
    time.sleep(2.5)
    second = browser.js("vantor.audioStatus()")
    log(f"audio {second}")
    heard = (second["played"] - first["played"]) % 2**32 / 4 / 44100
    check(1.0 < heard < 6.0, f"{heard:.2f} s heard in about 2.5 s")
    # The player splits its looping buffer into 100 blocks.
    blocks = [s["played"] % s["bufferBytes"] * 100 // s["bufferBytes"] for s in (first, second)]
    log(f"block heard: {blocks[0]} -> {blocks[1]}")
    check(blocks[0] != blocks[1], "the block being heard did not advance")
    check(second["checksum"] != first["checksum"], "the looping buffer was not refilled")
    check(second["checksum"] != 0, "the looping buffer holds silence")

    report_size_and_start(browser)
    end_with_escape(browser)


def case_fullscreen(browser, work):
    answer_question(browser, "yes")
    browser.wait_for("document.body.dataset.state === 'running'", 90, "the first frame")
    full = browser.js("!!document.fullscreenElement")
    rect = canvas_rect(browser)
    log(f"full screen {'granted' if full else 'refused'}; canvas {rect}")
    if full:
        check((rect["w"], rect["h"], rect["x"], rect["y"]) == (rect["vw"], rect["vh"], 0, 0),
              "the canvas does not cover the whole screen")
        time.sleep(1)
        title = browser.js("document.querySelector('title').textContent")
        check(title == NAME, f"the caption changed in full screen: {title}")
    else:
        check((rect["w"], rect["h"]) == (840, 525), "refused full screen, yet no 840x525 canvas")
    end_with_escape(browser)
    check(not browser.js("!!document.fullscreenElement"), "the page stayed in full screen")


def case_silent(browser, work):
    answer_question(browser, "no")
    first = wait_running_title(browser)
    time.sleep(2)
    second = wait_running_title(browser)
    log(f"caption: {first} -> {second}")
    check(first != second, "the caption stopped")
    status = browser.js("vantor.audioStatus()")
    log(f"audio {status}")
    check(not status["playing"] and status["bufferBytes"] == 0, "something plays without 2.xm")
    end_with_escape(browser)


def report_size_and_start(browser):
    info = browser.js("""(() => {
      const nav = performance.getEntriesByType('navigation')[0];
      const files = {'index.html': nav.transferSize || nav.encodedBodySize};
      for (const r of performance.getEntriesByType('resource'))
        files[r.name.split('/').pop()] = r.transferSize || r.encodedBodySize;
      const mark = performance.getEntriesByName('vantor-first-frame')[0];
      const at = name => performance.getEntriesByName(name)[0]?.startTime ?? NaN;
      return {files, question: at('vantor-question'), answered: at('vantor-answered'),
              firstFrame: at('vantor-first-frame')};
    })()""")
    total = sum(v for k, v in info["files"].items() if k != "2.xm")
    log(f"transferred: {info['files']} (page without 2.xm: {total} bytes)")
    # The time spent answering is the viewer's, not the page's.
    start = info["question"] + info["firstFrame"] - info["answered"]
    log(f"start: question after {info['question']:.0f} ms, first scroller frame"
        f" {info['firstFrame'] - info['answered']:.0f} ms after the answer; {start:.0f} ms in all")


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    web, case, scratch = sys.argv[1:]
    if not os.path.isfile(os.path.join(web, "vantor.js")):
        skip(f"{web}/vantor.js has not been built")
    exe = find_chromium()
    if exe is None:
        skip("chromium is not installed")
    cases = {"windowed": case_windowed, "fullscreen": case_fullscreen, "silent": case_silent}
    if case not in cases:
        print(f"unknown case {case}", file=sys.stderr)
        return 2
    work = os.path.join(scratch, f"web-{case}")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    server = serve(os.path.abspath(web), hidden=("2.xm",) if case == "silent" else ())
    profile = tempfile.mkdtemp(prefix="profile-", dir=work)
    browser = Browser(exe, profile)
    try:
        try:
            browser.attach_page()
        except Failure as e:
            browser.close()
            with open(os.path.join(work, "chromium-stderr.txt"), errors="replace") as f:
                sys.stdout.write("".join(f.readlines()[-10:]))
            skip(f"the browser did not start: {e}")
        url = f"http://127.0.0.1:{server.server_address[1]}/index.html"
        browser.call("Page.navigate", {"url": url})
        log(f"opened {url}")
        cases[case](browser, work)
    except Failure as e:
        print(f"FAIL: {e}", file=sys.stderr)
        for line in browser.console()[-20:]:
            print(f"  console: {line}", file=sys.stderr)
        return 1
    finally:
        browser.close()
        server.shutdown()
        shutil.rmtree(profile, ignore_errors=True)
    log(f"PASS web {case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
