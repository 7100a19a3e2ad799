#!/usr/bin/env python3
"""End-to-end checks of the web page, one case list run in each browser
engine (Chromium, Firefox, WebKitGTK; see web_engines.py), the page served
by a plain static server with no isolation headers.

Usage: web_cases.py WEB_BUILD_DIR ENGINE SCRATCH_DIR [--xm-render PATH] [CASE...]
  ENGINE: chromium, firefox or webkit. CASES below says which cases each
  engine runs (all of them but the long ones unless some are named); the
  engine starts once for each set of browser options the cases need.
  --xm-render: the sound heard is compared with what it makes of the same
  2.xm (default: build/linux/xm-render when it is there).

Exit 0 when every case passed, 1 when one failed, 77 (skip) when the build
is missing or the engine cannot start.
"""
import base64
import glob
import itertools
import json
import math
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import web_engines  # noqa: E402
from web_engines import EngineMissing, Failure, log  # noqa: E402

NAME = "Vantor Filigree by Kestrel"
TITLE_RE = re.compile(r"^" + re.escape(NAME) + r" - [0-9]{2,}:[0-9]{2}:[0-9]{2}  \[([0-9]+) fps\]$")
# A peak at or under this (about -60 dBFS) counts as silence.
SILENT = 0.001
# Firefox's first stream through a fresh sound server takes a few seconds.
SOUND_WAIT = 20
# Seconds of the sound at the destination compared with xm-render's.
CAPTURE_SECONDS = 30
XM_RENDER = None

# Runs in the page before the question is answered: every node that the
# page connects to the audio destination is also connected to a tap, an
# audio worklet node of the test's own that sees every render quantum the
# destination gets. It counts the quanta, those that were all silence, and
# the quanta the context skipped, and keeps the loudest sample and the mean
# level; this hears what goes to the speakers whatever the page's own
# bookkeeping says, also while the page's thread is held up or the tab is
# hidden. With window.__vantorCapture set to a number of seconds it also
# keeps that much of the sound from its first non-silent quantum on, as
# 16-bit values, in chunks of a second.
TAP = """(() => {
  if (window.__vantorTap) return;
  const tap = window.__vantorTap = {nodes: 0, contexts: [], quanta: 0, silent: 0, gaps: 0, inexact: 0,
                                    peak: 0, sum: 0, count: 0, chunks: [], captureFrom: -1};
  const code = `registerProcessor('vantor-tap', class extends AudioWorkletProcessor {
    constructor(options) {
      super();
      this.quanta = 0; this.silent = 0; this.gaps = 0; this.inexact = 0; this.next = -1;
      this.peak = 0; this.sum = 0; this.count = 0;
      this.left = Math.round(options.processorOptions.capture * sampleRate);
      this.chunk = null;
    }
    process(inputs) {
      const input = inputs[0], n = input.length ? input[0].length : 128;
      if (this.next >= 0 && currentFrame !== this.next) this.gaps += Math.round((currentFrame - this.next) / n);
      this.next = currentFrame + n;
      this.quanta++;
      let peak = 0;
      for (const channel of input) {
        for (let i = 0; i < channel.length; i++) {
          const v = channel[i], m = Math.abs(v);
          if (m > peak) peak = m;
          this.sum += v * v;
        }
        this.count += channel.length;
      }
      if (peak === 0) this.silent++;
      if (peak > this.peak) this.peak = peak;
      // The capture begins with the first sound.
      const capturing = this.left > 0 && input.length === 2 && (this.chunk || this.captured || peak > 0);
      for (let i = 0; capturing && i < n && this.left > 0; i++) {
        if (!this.chunk) {
          this.chunk = new Int16Array(2 * Math.min(sampleRate, this.left));
          this.at = 0;
          this.from = currentFrame + i;
        }
        for (let c = 0; c < 2; c++) {
          const v = input[c][i] * 32768;
          if (v !== Math.round(v) || v < -32768 || v > 32767) this.inexact++;
          this.chunk[this.at++] = v;
        }
        this.left--;
        if (this.at === this.chunk.length) {
          this.port.postMessage({chunk: this.chunk, from: this.from});
          this.chunk = null;
          this.captured = true;
        }
      }
      if ((this.quanta & 15) === 0) {
        this.port.postMessage({quanta: this.quanta, silent: this.silent, gaps: this.gaps, inexact: this.inexact,
                               peak: this.peak, sum: this.sum, count: this.count});
        this.peak = 0; this.sum = 0; this.count = 0;
      }
      return true;
    }
  });`;
  const url = URL.createObjectURL(new Blob([code], {type: 'application/javascript'}));
  const added = new WeakMap();
  const connect = AudioNode.prototype.connect;
  AudioNode.prototype.connect = function (target, ...rest) {
    const result = connect.call(this, target, ...rest);
    if (target instanceof AudioDestinationNode) {
      const source = this, context = this.context;
      if (!added.has(context)) added.set(context, context.audioWorklet.addModule(url));
      added.get(context).then(() => {
        const node = new AudioWorkletNode(context, 'vantor-tap', {
          numberOfInputs: 1, numberOfOutputs: 0,
          processorOptions: {capture: window.__vantorCapture || 0}});
        node.port.onmessage = e => {
          const m = e.data;
          if (m.chunk) {
            if (tap.captureFrom < 0) tap.captureFrom = m.from;
            tap.chunks.push(m.chunk);
            return;
          }
          tap.quanta = m.quanta; tap.silent = m.silent; tap.gaps = m.gaps; tap.inexact = m.inexact;
          tap.peak = Math.max(tap.peak, m.peak); tap.sum += m.sum; tap.count += m.count;
        };
        connect.call(source, node);
        tap.nodes++;
        tap.contexts.push(context);
      });
    }
    return result;
  };
  // The counts so far, and the loudest sample and the mean level since the
  // last reading.
  tap.read = () => {
    const r = {nodes: tap.nodes, quanta: tap.quanta, silent: tap.silent, gaps: tap.gaps, frames: tap.count,
               peak: tap.peak, rms: Math.sqrt(tap.sum / Math.max(1, tap.count)),
               contexts: tap.contexts.map(c => c.state)};
    tap.peak = 0; tap.sum = 0; tap.count = 0;
    return r;
  };
  // Captured chunk i as base64 of its little-endian 16-bit values.
  tap.chunk = i => {
    const bytes = new Uint8Array(tap.chunks[i].buffer);
    let text = '';
    for (let k = 0; k < bytes.length; k += 8192) text += String.fromCharCode(...bytes.subarray(k, k + 8192));
    return btoa(text);
  };
})();"""


def dbfs(level):
    return f"{20 * math.log10(level):.1f} dBFS" if level > 0 else "silence"


def check(cond, msg):
    if not cond:
        raise Failure(msg)


def wait_for(page, expression, timeout, what):
    deadline, error = time.time() + timeout, ""
    while time.time() < deadline:
        # A page still loading may have no document to ask yet.
        try:
            value = page.js(expression)
            if value:
                return value
        except Failure as e:
            error = f"; {e}"
        time.sleep(0.1)
    raise Failure(f"timed out waiting for {what} (state {page.js('document.body?.dataset.state')}{error})")


def visible(selector):
    return f"(() => {{ const e = document.querySelector({json.dumps(selector)});" \
           " return !!e && getComputedStyle(e).display !== 'none' && e.getClientRects().length > 0; })()"


def click(page, selector):
    x, y = page.js(f"(() => {{ const r = document.querySelector({json.dumps(selector)}).getBoundingClientRect();"
                   " return [r.x + r.width / 2, r.y + r.height / 2]; })()")
    page.click(x, y)


def answer_question(page, answer):
    # A modal dialog to assistive technology, named by its caption.
    box = wait_for(page, "(() => { const q = document.getElementById('question');"
                   " return q && [q.querySelector('.caption').textContent,"
                   " q.querySelector('.text').textContent, q.getAttribute('role'), q.getAttribute('aria-modal'),"
                   " document.getElementById(q.getAttribute('aria-labelledby'))?.textContent]; })()",
                   60, "the question")
    check(box == [NAME, "fullscreen?", "dialog", "true", NAME], f"the question reads {box}")
    check(page.js("document.body.dataset.state") == "question", "the question shows, yet the state is not 'question'")
    # The input goes through the browser, so the page meets a user gesture.
    click(page, f"#question button[data-answer={answer}]")
    log(f"clicked {answer}")


def canvas_rect(page):
    return page.js("(() => { const c = document.getElementById('canvas'), r = c.getBoundingClientRect();"
                   " return {w: c.width, h: c.height, x: r.x, y: r.y, cw: r.width, ch: r.height,"
                   " vw: innerWidth, vh: innerHeight}; })()")


def title(page):
    # The title element's own text: document.title folds the double space.
    return page.js("document.querySelector('title').textContent")


def wait_running_title(page, timeout=90):
    deadline = time.time() + timeout
    while time.time() < deadline:
        text = title(page)
        if TITLE_RE.match(text):
            return text
        if page.js("document.body.dataset.state") in ("failed", "unsupported"):
            raise Failure(f"the page stopped: {page.js('document.body.innerText')!r}")
        time.sleep(0.2)
    raise Failure(f"no running caption in {timeout} s (title {title(page)!r}, state {page.js('document.body.dataset.state')})")


def fps(text):
    return int(TITLE_RE.match(text).group(1))


def end_with_escape(page):
    page.press_escape()
    wait_for(page, f"document.body.dataset.state === 'ended' && {visible('#ended')}", 20,
             "the page to show that the intro ended")
    # The running caption went with the intro.
    check(title(page) == NAME, f"after Escape the tab's title reads {title(page)!r}")
    log("Escape ended the intro")


def scroller_shot_problem(page, rect, png):
    with open(png, "wb") as f:
        f.write(page.screenshot(rect))
    # The same colour-count and coverage rules as the native screenshots.
    out = subprocess.run(["bash", "-c", f'. "{HERE}/lib.sh"; e2e_png_scroller_problem "$@"', "-",
                          png, str(rect["w"]), str(rect["h"])], capture_output=True, text=True)
    sys.stdout.write(out.stderr)
    return None if out.returncode == 0 else (out.stdout.strip() or "screenshot check failed")


def wait_for_shot(page, rect, png):
    # The letters enter after a number of frames, and software drawing on a
    # loaded machine is slow.
    problem, deadline = "no screenshot", time.time() + 90
    while time.time() < deadline:
        problem = scroller_shot_problem(page, rect, png)
        if problem is None:
            return
        time.sleep(1)
    raise Failure(problem)


def audio_status(page):
    return page.js("vantor.audioStatus()")


def wait_for_sound(page):
    """Waits (bounded) for the tap to hear the music; returns the reading."""
    deadline, heard = time.time() + SOUND_WAIT, None
    while time.time() < deadline:
        time.sleep(0.5)
        heard = page.js("__vantorTap.read()")
        if heard["peak"] > SILENT:
            return heard
    raise Failure(f"no sound reaches the audio destination in {SOUND_WAIT} s: tap {heard},"
                  f" page {audio_status(page)}")


def timed_status(page):
    """The page's audio status, the tap's counts and the tab's visibility,
    read together, with the wall clock."""
    status = page.js("({...vantor.audioStatus(), tap: __vantorTap.read(), visibility: document.visibilityState})")
    status["t"] = time.time()
    return status


def sound_problems(first, second):
    """Between two readings: every quantum the context went through was
    played (none starved, none silent or skipped at the destination), and the
    context's clock ran on."""
    wall = second["t"] - first["t"]
    context = second["contextTime"] - first["contextTime"]
    played = (second["frames"] - first["frames"]) / second["rate"]
    starved = second["starved"] - first["starved"]
    skipped = second["skipped"] - first["skipped"]
    tap = {k: second["tap"][k] - first["tap"][k] for k in ("quanta", "silent", "gaps")}
    problems = []
    if starved:
        problems.append(f"the worklet had no music for {starved} render quanta")
    if skipped:
        problems.append(f"the context went through {skipped} render quanta without asking the worklet")
    if tap["silent"] or tap["gaps"]:
        problems.append(f"the destination got {tap['silent']} silent quanta and skipped {tap['gaps']}")
    if abs(played - context) > 0.1:
        problems.append(f"the worklet played {played:.2f} s while the context's clock ran {context:.2f} s")
    # A loaded machine with a null sink runs the context a few percent slow;
    # a paused one stands still.
    if context < 0.8 * wall:
        problems.append(f"the context's clock ran {context:.2f} s in {wall:.2f} s")
    return problems, (f"{wall:.1f} s: context {context:.2f} s, played {played:.2f} s, {tap['quanta']} quanta"
                      f" at the destination, {tap['silent']} silent, {tap['gaps']} skipped, {starved} starved,"
                      f" {skipped} not asked for")


# The intro drawing about one frame a second: each frame holds the page's
# thread for 950 ms, then a 50 ms pause comes before the next one. Without
# the pause Firefox may run frame after frame and never answer the test's
# own requests in between.
STALL = """(() => {
  window.__vantorStall = true;
  const hold = () => {
    if (!window.__vantorStall) return;
    const until = performance.now() + 950;
    while (performance.now() < until) {}
    setTimeout(() => requestAnimationFrame(hold), 50);
  };
  requestAnimationFrame(hold);
})()"""


def play_through(page, phases):
    """Runs the phases, ("play", s), ("hide", s) or ("stall", s), reading the
    status about twice a second, and checks that the music went on through
    each of them in step with the audio context's clock: the song's
    position that the page's side of the output reports, against the
    context's time of the quantum it was reported at, keeps the same
    distance to it within 50 ms and never steps back, and no quantum is
    starved, silent or skipped. (How long a report takes to reach the page's
    thread, which holds it up in a stall, is logged.) Returns the
    readings."""
    readings = [timed_status(page)]
    problems = []
    for kind, seconds in phases:
        before = readings[-1]
        if kind == "hide":
            page.hide()
        elif kind == "stall":
            page.js(STALL)
        end = time.time() + seconds
        while time.time() < end:
            time.sleep(min(0.5, max(0.0, end - time.time())))
            readings.append(timed_status(page))
        if kind == "hide":
            hidden = [r["visibility"] for r in readings[readings.index(before) + 1:]]
            page.show()
            if "hidden" not in hidden:
                problems.append(f"the tab never read hidden during the {seconds} s hide ({hidden})")
        elif kind == "stall":
            page.js("window.__vantorStall = false")
            log(f"stalled: caption {title(page)}")
        readings.append(timed_status(page))
        found, summary = sound_problems(before, readings[-1])
        log(f"{kind} {seconds} s ({summary})")
        problems += [f"{kind} {seconds} s: {p}" for p in found]
    offsets = [r["frame"] * 1000 / r["rate"] - r["ms"] for r in readings]
    ages = [r["contextTime"] * 1000 - r["frame"] * 1000 / r["rate"] for r in readings]
    steps_back = sum(1 for a, b in zip(readings, readings[1:]) if b["ms"] < a["ms"])
    spread = max(offsets) - min(offsets)
    log(f"the song's position against the context's clock over {readings[-1]['contextTime'] - readings[0]['contextTime']:.1f} s"
        f" ({len(readings)} readings): {min(offsets):.0f} to {max(offsets):.0f} ms behind, spread {spread:.0f} ms,"
        f" {steps_back} steps back; reports {statistics.median(ages):.0f} ms old (median), at most {max(ages):.0f} ms;"
        f" song at order {readings[-1]['order']} row {readings[-1]['row']}, {readings[-1]['ms'] / 1000:.1f} s")
    if spread > 50:
        problems.append(f"the song's position strays {spread:.0f} ms from the context's clock")
    if steps_back:
        problems.append(f"the song's position stepped back {steps_back} times")
    found, summary = sound_problems(readings[0], readings[-1])
    last = readings[-1]
    log(f"all told: {summary}; since the music began at context frame {last['startFrame']}: {last['starved']}"
        f" starved quanta, {last['skipped']} not asked for {last['skips']} (the tap, which may have begun"
        f" before it, {last['tap']['silent']} silent and {last['tap']['gaps']} skipped)")
    check(not problems + found, "; ".join(problems + found))
    return readings


def compare_capture(page, urls, work, seconds):
    """The sound captured at the destination, from where the tap began, is
    exactly what xm-render makes of the same 2.xm at the context's rate."""
    status = audio_status(page)
    if status["rate"] != 44100:
        log(f"the context runs at {status['rate']} Hz: no comparison with xm-render at 44100")
        return
    if not XM_RENDER:
        log("no xm-render (--xm-render PATH): the captured sound is not compared")
        return
    wait_for(page, f"__vantorTap.chunks.length >= {seconds}", 60, f"{seconds} s of captured sound")
    tap = page.js("({from: __vantorTap.captureFrom, inexact: __vantorTap.inexact, chunks: __vantorTap.chunks.length})")
    # The song's frames follow the context's from where the music began,
    # but for quanta the context went through without asking the worklet
    # (a browser's audio thread late on a loaded machine): the song goes on
    # after such a gap from where it was, and what the destination got
    # in the gap is left out.
    start, gaps = status["startFrame"], sorted(status["skips"])
    check(tap["from"] >= start and status["starved"] == 0 and len(gaps) < 16,
          f"the capture began at context frame {tap['from']}, the music at {start} with"
          f" {status['starved']} starved quanta and {len(gaps)} gaps since")
    check(all(e < a for e, a in gaps), f"the context's clock stepped back: {gaps}")
    check(tap["inexact"] == 0, f"{tap['inexact']} captured values are no 16-bit sample")
    captured = b"".join(base64.b64decode(page.js(f"__vantorTap.chunk({i})")) for i in range(seconds))
    frames, origin = len(captured) // 4, tap["from"]
    reference = os.path.join(work, "xm-render.wav")
    subprocess.run([XM_RENDER, os.path.join(urls["folder"], "2.xm"), "-o", reference,
                    "--seconds", f"{(origin - start + frames) / 44100 + 1:.3f}"], check=True, capture_output=True)
    with open(reference, "rb") as f:
        expected = f.read()[44:]
    # The stretches the worklet rendered without a gap: context frames
    # [begin, end) and the song's frame at begin.
    stretches, begin, shift = [], start, 0
    for e, a in gaps:
        stretches.append((begin, e, begin - start - shift))
        begin, shift = a, shift + a - e
    stretches.append((begin, origin + frames, begin - start - shift))
    compared = 0
    for begin, end, song in stretches:
        lo, hi = max(begin, origin), min(end, origin + frames)
        if lo >= hi:
            continue
        song += lo - begin
        got, want = captured[(lo - origin) * 4:(hi - origin) * 4], expected[song * 4:(song + hi - lo) * 4]
        if got != want:
            k = next((j for j in range(0, min(len(got), len(want)), 4) if got[j:j + 4] != want[j:j + 4]),
                     min(len(got), len(want))) // 4
            raise Failure(f"the captured sound differs from xm-render's from song frame {song + k}"
                          f" (context frame {lo + k})")
        compared += hi - lo
    left_out = frames - compared
    log(f"{frames / 44100:.1f} s of sound at the destination, from song frame {origin - start}: bit-identical"
        f" to xm-render" + (f", but for {left_out} frames in {len(gaps)} gaps the worklet was not asked for"
                            if gaps else ""))


# --- The cases ---------------------------------------------------------------------

def case_played(page, urls, work):
    """Click No: the caption runs, the canvas shows the cubes, and the music
    plays on at the destination through hidden tabs and a page that draws
    one frame a second, in step with the audio context's clock and
    bit-identical to xm-render; Escape ends it."""
    page.open(urls["page"], TAP)
    page.js(f"window.__vantorCapture = {CAPTURE_SECONDS}")
    answer_question(page, "no")
    first = wait_running_title(page)
    log(f"caption: {first}")
    rect = canvas_rect(page)
    check((rect["w"], rect["h"], rect["cw"], rect["ch"]) == (840, 525, 840, 525),
          f"canvas is {rect['w']}x{rect['h']} shown at {rect['cw']}x{rect['ch']}, expected 840x525")
    dx, dy = rect["x"] + 420 - rect["vw"] / 2, rect["y"] + 262.5 - rect["vh"] / 2
    check(abs(dx) <= 1 and abs(dy) <= 1, f"canvas not centred (off by {dx},{dy})")

    heard = wait_for_sound(page)
    log(f"sound at the destination: peak {dbfs(heard['peak'])}, mean {dbfs(heard['rms'])},"
        f" {heard['nodes']} node(s), context {heard['contexts']}")
    check(page.js("document.body.dataset.sound") == "on", "sound plays, yet the page says it is off")
    wait_for_shot(page, rect, os.path.join(work, f"{page.name}-scroller.png"))
    play_through(page, [("play", 3), ("hide", 2.6), ("play", 3), ("hide", 5), ("play", 3), ("stall", 20)])
    text = title(page)
    check(text != first, "the caption's clock stands still")
    compare_capture(page, urls, work, CAPTURE_SECONDS)
    report_start(page)
    end_with_escape(page)


def case_long(page, urls, work):
    """Ten minutes with the tab hidden and shown again every 10 s (for 2.6,
    5 and 30 s in turn), then a minute of one frame a second: the music
    never stops and keeps in step with the audio context's clock."""
    page.open(urls["page"], TAP)
    answer_question(page, "no")
    wait_running_title(page)
    wait_for_sound(page)
    phases, total = [], 0.0
    for hide in itertools.cycle((2.6, 5, 30)):
        if total + 10 + hide > 600:
            break
        phases += [("play", 10), ("hide", hide)]
        total += 10 + hide
    phases.append(("play", 600 - total))
    play_through(page, phases)
    play_through(page, [("stall", 60)])
    end_with_escape(page)


def case_silent(page, urls, work):
    """No 2.xm beside the page (the server answers 404): the intro runs, and
    nothing reaches the speakers."""
    page.open(urls["silent"], TAP)
    answer_question(page, "no")
    first = wait_running_title(page)
    page.js("__vantorTap.read()")
    time.sleep(2)
    second = wait_running_title(page)
    log(f"caption: {first} -> {second}")
    check(first != second, "the caption stopped")
    status = audio_status(page)
    heard = page.js("__vantorTap.read()")
    log(f"audio {status}; at the destination {dbfs(heard['peak'])}")
    check(page.js("document.body.dataset.sound") == "off", "the page says the sound is on without 2.xm")
    check(not status["playing"], "a song plays without 2.xm")
    check(heard["peak"] <= SILENT, f"something plays without 2.xm ({dbfs(heard['peak'])})")


def gl_viewport(page):
    return page.js("Array.from(document.getElementById('canvas').getContext('webgl').getParameter(0x0BA2))")


def wait_canvas(page, css, backing, what):
    """Waits until the canvas shows at `css` (width, height) in the page with
    `backing` device pixels, which the next frames fill."""
    expression = ("(() => { const c = document.getElementById('canvas'), r = c.getBoundingClientRect();"
                  f" return r.width === {css[0]} && r.height === {css[1]} && c.width === {backing[0]}"
                  f" && c.height === {backing[1]}; }})()")
    try:
        wait_for(page, expression, 20, what)
    except Failure:
        raise Failure(f"{what}: the canvas is {canvas_rect(page)}")
    deadline = time.time() + 20
    while (viewport := gl_viewport(page)) != [0, 0, backing[0], backing[1]] and time.time() < deadline:
        time.sleep(0.2)
    check(viewport == [0, 0, backing[0], backing[1]], f"{what}: the GL viewport is {viewport}")
    log(f"{what}: canvas {css[0]}x{css[1]} in the page, {backing[0]}x{backing[1]} pixels")


def case_fullscreen(page, urls, work):
    """Click Yes: the canvas covers the screen when the browser grants full
    screen, and follows it when it shrinks, with no running caption; Escape
    ends it and leaves full screen."""
    page.open(urls["page"])
    answer_question(page, "yes")
    wait_for(page, "document.body.dataset.state === 'running'", 90, "the first frame")
    full = page.js("!!document.fullscreenElement")
    rect = canvas_rect(page)
    log(f"full screen {'granted' if full else 'refused'}; canvas {rect}")
    if full:
        check((rect["w"], rect["h"], rect["x"], rect["y"]) == (rect["vw"], rect["vh"], 0, 0),
              "the canvas does not cover the whole screen")
        time.sleep(1)
        check(title(page) == NAME, f"the caption changed in full screen: {title(page)}")
        try:
            page.viewport(1280, 720)
            wait_canvas(page, (1280, 720), (1280, 720), "full screen shrunk to 1280x720")
        finally:
            page.viewport(web_engines.VIEW_W, web_engines.VIEW_H)
    else:
        check((rect["w"], rect["h"]) == (840, 525), "refused full screen, yet no 840x525 canvas")
    end_with_escape(page)
    check(not page.js("!!document.fullscreenElement"), "the page stayed in full screen")


def case_layout(page, urls, work):
    """The window in a 320x200 page shows whole, scaled to fit; on a screen
    of two device pixels per CSS pixel the canvas has twice the pixels."""
    try:
        page.viewport(320, 200)
        page.open(urls["page"])
        answer_question(page, "no")
        wait_running_title(page)
        wait_canvas(page, (320, 200), (320, 200), "a 320x200 page")
        rect = canvas_rect(page)
        check((rect["x"], rect["y"]) == (0, 0), f"the canvas is not where the page begins: {rect}")
        page.viewport(1280, 800, 2)
        wait_canvas(page, (840, 525), (1680, 1050), "a 1280x800 page at two device pixels a CSS pixel")
        end_with_escape(page)
    finally:
        page.viewport(web_engines.VIEW_W, web_engines.VIEW_H)


def case_no_script(page, urls, work):
    """JavaScript turned off: one sentence says the page needs it."""
    try:
        page.scripts(False)
        page.open(urls["page"])
        wait_for(page, "document.readyState === 'complete'", 30, "the page")
        shown = page.js("Array.from(document.body.children).filter(e => e.getClientRects().length)"
                        ".map(e => e.innerText.trim()).filter(t => t)")
    finally:
        page.scripts(True)
    log(f"the page shows {shown}")
    check(len(shown) == 1 and "JavaScript" in shown[0], f"the page shows {shown}")


def case_from_disk(page, urls, work):
    """The page opened from its folder on disk (file://): the intro, or one
    sentence saying to open it through a web server; never a black page."""
    page.open("file://" + os.path.join(urls["folder"], "index.html"))
    outcome = wait_for(page, "document.getElementById('question') ? 'the question' :"
                       f" {visible('#unsupported')} && document.getElementById('unsupported').textContent", 60,
                       "the question or a sentence")
    log(f"from disk the page shows {outcome}")
    if outcome == "the question":
        answer_question(page, "no")
        wait_running_title(page)
        end_with_escape(page)
    else:
        check("web server" in outcome, f"the sentence does not say to use a web server: {outcome!r}")


def case_folder(page, urls, work):
    """A host that serves the page's folder without the closing slash: the
    page finds its files."""
    page.open(urls["folder-page"])
    answer_question(page, "no")
    wait_running_title(page)
    end_with_escape(page)


def case_slow_line(page, urls, work):
    """Over a 500 kbit/s line: a sentence shows within half a second, the
    program's files come first, and the question does not wait for the
    music."""
    page.open(urls["slow"])
    painted = wait_for(page, "performance.getEntriesByType('paint')"
                       ".find(e => e.name === 'first-contentful-paint')?.startTime", 30, "the first paint")
    sentence = page.js("document.getElementById('arriving').textContent")
    question = wait_for(page, "performance.getEntriesByName('vantor-question')[0]?.startTime", 90, "the question")
    files = page.js("performance.getEntriesByType('resource').filter(e => /(vantor|2\\.xm)/.test(e.name))"
                    ".map(e => [e.name.split('/').pop(), Math.round(e.startTime), Math.round(e.responseEnd)])")
    log(f"at 500 kbit/s: {sentence!r} painted {painted:.0f} ms after navigation, the question at {question:.0f} ms;"
        f" files (asked, in, ms): {files}")
    page.open("about:blank")
    check(painted <= 500, f"the first sentence took {painted:.0f} ms")
    arrived = {name: end for name, _, end in files}
    if "2.xm" in arrived:
        check(question < arrived["2.xm"], "the question waited for the music")


def case_no_webgl(page, urls, work):
    """A browser without WebGL: one sentence that says so, no black page."""
    page.open(urls["page"])
    wait_for(page, "document.body?.dataset.state === 'unsupported'", 60, "the page to say what is missing")
    check(page.js(visible("#unsupported")), "#unsupported is not shown")
    sentence = page.js("document.getElementById('unsupported').textContent").strip()
    log(f"the page says: {sentence}")
    check("WebGL" in sentence, f"the sentence does not name WebGL: {sentence!r}")


def report_start(page):
    info = page.js("""(() => {
      const at = name => performance.getEntriesByName(name)[0]?.startTime ?? null;
      return {question: at('vantor-question'), answered: at('vantor-answered'), firstFrame: at('vantor-first-frame')};
    })()""")
    if None in info.values():
        raise Failure(f"a performance mark is missing: {info}")
    log(f"start: question {info['question']:.0f} ms after navigation, first intro frame"
        f" {info['firstFrame'] - info['answered']:.0f} ms after the click")


# One list for every engine: name, engines, browser options, check. The
# cases in LONG run only when named.
ALL = web_engines.ENGINES
CASES = [
    ("played", ALL, {}, case_played),
    ("silent", ALL, {}, case_silent),
    ("fromdisk", ALL, {}, case_from_disk),
    ("folder", ALL, {}, case_folder),
    ("slowline", ALL, {}, case_slow_line),
    ("fullscreen", ("chromium",), {}, case_fullscreen),
    ("layout", ("chromium",), {}, case_layout),
    ("noscript", ("chromium",), {}, case_no_script),
    ("nowebgl", ("chromium",), {"webgl": False}, case_no_webgl),
    ("long", ALL, {}, case_long),
]
LONG = {"long"}


def site(web, work):
    """What people put on their hosts, the unpacked package, when it is at
    least as new as the page; else the build folder itself."""
    packages = sorted(glob.glob(os.path.join(web, "vantor-filigree-*-web.zip")), key=os.path.getmtime)
    if packages and os.path.getmtime(packages[-1]) >= os.path.getmtime(os.path.join(web, "vantor.wasm")):
        folder = os.path.join(work, "site")
        with zipfile.ZipFile(packages[-1]) as z:
            z.extractall(folder)
        log(f"serving {os.path.basename(packages[-1])}, unpacked")
        return folder
    log(f"serving {web}")
    return os.path.abspath(web)


def main():
    # A test runner's timeout ends the run with SIGTERM: close the browsers
    # and their display on the way out.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    if len(sys.argv) < 4 or sys.argv[2] not in ALL:
        print(__doc__, file=sys.stderr)
        return 2
    web, engine, scratch, wanted = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3]), sys.argv[4:]
    global XM_RENDER
    XM_RENDER = os.path.join(os.path.dirname(os.path.dirname(HERE)), "build", "linux", "xm-render")
    if "--xm-render" in wanted:
        at = wanted.index("--xm-render")
        XM_RENDER, wanted = wanted[at + 1] if at + 1 < len(wanted) else "", wanted[:at] + wanted[at + 2:]
    if not os.access(XM_RENDER, os.X_OK):
        XM_RENDER = None
    unknown = set(wanted) - {c[0] for c in CASES}
    if unknown:
        print(f"unknown case(s) {' '.join(sorted(unknown))}", file=sys.stderr)
        return 2
    if not os.path.isfile(os.path.join(web, "vantor.wasm")):
        print(f"SKIP: {web}/vantor.wasm has not been built", flush=True)
        return 77
    cases = [c for c in CASES if engine in c[1] and (c[0] in wanted if wanted else c[0] not in LONG)]
    work = os.path.join(scratch, f"web-{engine}")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    folder = site(web, work)
    server, base = web_engines.serve(folder)
    urls = {"page": base + "index.html", "silent": base + "silent/index.html", "slow": base + "slow/index.html",
            "folder-page": base + "folder", "folder": folder}
    failed, passed, started = [], [], False
    try:
        # Cases that need the same browser options share one browser.
        groups = []
        for case in cases:
            if not groups or groups[-1][0] != case[2]:
                groups.append((case[2], []))
            groups[-1][1].append(case)
        for options, group in groups:
            page = web_engines.make(engine, work, **options)
            try:
                t0 = time.time()
                try:
                    page.start()
                except EngineMissing as e:
                    if started:
                        raise Failure(str(e))
                    print(f"SKIP: {e}", flush=True)
                    return 77
                started = True
                log(f"{engine} {options or ''} started in {time.time() - t0:.1f} s")
                for name, _, _, run in group:
                    log(f"--- {engine} {name}: {run.__doc__.split(chr(10))[0]}")
                    try:
                        run(page, urls, work)
                        passed.append(name)
                        log(f"PASS {engine} {name}")
                    except Failure as e:
                        failed.append(name)
                        print(f"FAIL {engine} {name}: {e}", flush=True)
                        for line in page.console()[-15:]:
                            print(f"  console: {line}", flush=True)
            except Failure as e:
                failed.append(f"start {options}")
                print(f"FAIL {engine}: {e}", flush=True)
            finally:
                page.close()
    finally:
        server.shutdown()
    log(f"{engine}: {len(passed)} passed, {len(failed)} failed" + (f" ({' '.join(failed)})" if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
