"""The three browser engines the web page is tried in, each behind one small
adapter with the same few operations, and the plain static server that
serves the page to them.

  Chromium  headless, the DevTools protocol on a pipe
  Firefox   on a private Xvfb, WebDriver BiDi on the port Firefox serves
  WebKit    WebKitGTK's MiniBrowser on a private Xvfb, through WebKitWebDriver

Firefox and WebKit get a private PulseAudio with a null sink: without a
sound server their audio contexts never start. Each adapter's start() raises
EngineMissing, with the engine's own words, when that engine cannot start.

Used by tests/e2e/web_cases.py and bench/web/startup.py.
"""
import base64
import fcntl
import functools
import http.client
import http.server
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

VIEW_W, VIEW_H = 1920, 1080
ENGINES = ("chromium", "firefox", "webkit")


class Failure(Exception):
    pass


class EngineMissing(Exception):
    pass


def log(msg):
    print(f"[{time.strftime('%H:%M:%S')}] {msg}", flush=True)


def tail(path, lines=8):
    try:
        with open(path, errors="replace") as f:
            return "".join(f.readlines()[-lines:]).strip()
    except OSError:
        return ""


def spawn(args, **kw):
    """Starts a program in a process group of its own, so that stop() ends
    whatever it started too (browsers start many processes)."""
    return subprocess.Popen(args, start_new_session=True, **kw)


def stop(proc, timeout=10):
    for sig, wait in ((signal.SIGTERM, timeout), (signal.SIGKILL, None)):
        try:
            os.killpg(proc.pid, sig)
        except ProcessLookupError:
            pass
        try:
            proc.wait(wait)
            return
        except subprocess.TimeoutExpired:
            pass


# --- The page's server ---------------------------------------------------------

# The slow line under /slow/: 500 kbit/s, shared by every file sent on it.
SLOW_BYTES_PER_SECOND = 500_000 // 8


class Handler(http.server.SimpleHTTPRequestHandler):
    """Files as any static host serves them: no isolation headers. The same
    folder is also served under a few prefixes: /silent/ without its module,
    /slow/ over a 500 kbit/s line, and /folder as a host that serves a
    folder's address without the closing slash (/folder is its index.html,
    /folder/NAME its files)."""
    slow_lock = threading.Lock()
    slow_clock = 0.0  # when the slow line is free again

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def translate_path(self, path):
        path = path.split("?")[0]
        if path == "/folder":
            path = "/index.html"
        for prefix in ("/silent/", "/slow/", "/folder/"):
            if path.startswith(prefix):
                path = path[len(prefix) - 1:]
        return super().translate_path(path)

    def send_head(self):
        path = self.path.split("?")[0]
        if path.startswith("/silent/") and os.path.basename(path) == "2.xm":
            self.send_error(404)
            return None
        return super().send_head()

    def copyfile(self, source, outputfile):
        if not self.path.startswith("/slow/"):
            return super().copyfile(source, outputfile)
        try:
            while chunk := source.read(1024):
                with Handler.slow_lock:
                    sent = max(time.time(), Handler.slow_clock) + len(chunk) / SLOW_BYTES_PER_SECOND
                    Handler.slow_clock = sent
                time.sleep(max(0.0, sent - time.time()))
                outputfile.write(chunk)
        except OSError:
            pass  # the page went away meanwhile

    def log_message(self, *args):
        pass


def serve(folder):
    """Serves folder on a free loopback port; returns (server, base URL)."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}/"


# --- A private display and sound server ----------------------------------------

class Desktop:
    """Xvfb and a PulseAudio with one null sink, private to this run."""

    def __init__(self, scratch):
        self.dir = tempfile.mkdtemp(prefix="desktop-", dir=os.path.abspath(scratch))
        self.procs = []
        self.env = dict(os.environ)

    def start(self):
        if not shutil.which("Xvfb"):
            raise EngineMissing("Xvfb is not installed (package xvfb)")
        read_end, write_end = os.pipe()
        self.procs.append(spawn(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{VIEW_W}x{VIEW_H}x24",
             "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        os.close(write_end)
        display = b""
        deadline = time.time() + 20
        while not display.endswith(b"\n") and time.time() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            display += chunk
        os.close(read_end)
        if not display.strip():
            raise Failure("Xvfb did not start")
        self.env["DISPLAY"] = ":" + display.decode().strip()

        # The sound server keeps its socket in XDG_RUNTIME_DIR and its cookie
        # under HOME; both are private here. PulseAudio warns when started as
        # root, and runs all the same.
        if not shutil.which("pulseaudio"):
            raise Failure("pulseaudio is not installed (package pulseaudio)")
        runtime = os.path.join(self.dir, "runtime")
        os.makedirs(runtime, mode=0o700)
        self.env.update(XDG_RUNTIME_DIR=runtime, HOME=self.dir, PULSE_SERVER=f"unix:{runtime}/pulse/native")
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.pulse_log = os.path.join(self.dir, "pulseaudio.txt")
        with open(self.pulse_log, "wb") as out:
            self.procs.append(spawn(
                ["pulseaudio", "-n", "-L", "module-null-sink", "-L", "module-native-protocol-unix",
                 "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--disable-shm=yes"],
                env=self.env, stdout=out, stderr=subprocess.STDOUT, cwd=self.dir))
        deadline = time.time() + 20
        while not os.path.exists(os.path.join(runtime, "pulse", "native")):
            if time.time() > deadline or self.procs[-1].poll() is not None:
                raise Failure(f"PulseAudio did not start: {tail(self.pulse_log, 3)}")
            time.sleep(0.05)
        log(f"Xvfb on {self.env['DISPLAY']}, PulseAudio with a null sink in {runtime}")
        return self.env

    def stop(self):
        for proc in reversed(self.procs):
            stop(proc, 5)
        shutil.rmtree(self.dir, ignore_errors=True)


# --- Message-based protocols ---------------------------------------------------

class WebSocket:
    """A WebSocket client for text messages, enough for WebDriver BiDi. It
    sends no Origin header: Firefox refuses connections that carry one
    unless it was told to trust that origin."""

    def __init__(self, host, port, path, timeout=10):
        self.sock = socket.create_connection((host, port), timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET {path} HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise OSError("the connection closed during the handshake")
            head += chunk
        head, self.pending = head.split(b"\r\n\r\n", 1)
        status = head.split(b"\r\n", 1)[0].decode(errors="replace")
        if " 101 " not in status + " ":
            raise OSError(f"the handshake was answered {status!r}")
        self.sock.settimeout(None)
        self.lock = threading.Lock()

    def _frame(self, opcode, data):
        header = bytearray([0x80 | opcode])
        n = len(data)
        if n < 126:
            header.append(0x80 | n)
        elif n < 65536:
            header += bytes([0x80 | 126]) + n.to_bytes(2, "big")
        else:
            header += bytes([0x80 | 127]) + n.to_bytes(8, "big")
        mask = os.urandom(4)
        # Clients mask every frame.
        key = int.from_bytes((mask * (n // 4 + 1))[:n], "big")
        masked = (int.from_bytes(data, "big") ^ key).to_bytes(n, "big") if n else b""
        with self.lock:
            self.sock.sendall(bytes(header) + mask + masked)

    def send(self, text):
        self._frame(0x1, text.encode())

    def _read(self, n):
        while len(self.pending) < n:
            chunk = self.sock.recv(max(65536, n - len(self.pending)))
            if not chunk:
                raise OSError("closed")
            self.pending += chunk
        data, self.pending = self.pending[:n], self.pending[n:]
        return data

    def recv(self):
        """The next text message, or None when the connection has closed."""
        message = b""
        try:
            while True:
                b0, b1 = self._read(2)
                n = b1 & 0x7F
                if n == 126:
                    n = int.from_bytes(self._read(2), "big")
                elif n == 127:
                    n = int.from_bytes(self._read(8), "big")
                mask = self._read(4) if b1 & 0x80 else None
                payload = self._read(n)
                if mask:
                    payload = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
                opcode = b0 & 0x0F
                if opcode == 0x8:
                    return None
                if opcode == 0x9:
                    self._frame(0xA, payload)
                elif opcode in (0x0, 0x1, 0x2):
                    message += payload
                    if b0 & 0x80:
                        return message.decode()
        except OSError:
            return None

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


class Rpc:
    """Numbered commands and their answers, with events on the side: the
    shape both the DevTools protocol and WebDriver BiDi have."""

    def __init__(self, send, receive):
        self._send = send
        self.next_id = 0
        self.replies = {}
        self.events = []
        self.cond = threading.Condition()
        self.alive = True

        def reader():
            while True:
                raw = receive()
                if raw is None:
                    break
                msg = json.loads(raw)
                with self.cond:
                    if "id" in msg and msg.get("type") != "event":
                        self.replies[msg["id"]] = msg
                    else:
                        self.events.append(msg)
                    self.cond.notify_all()
            with self.cond:
                self.alive = False
                self.cond.notify_all()

        threading.Thread(target=reader, daemon=True).start()

    def call(self, method, params=None, timeout=60, **extra):
        with self.cond:
            self.next_id += 1
            ident = self.next_id
        try:
            self._send(json.dumps({"id": ident, "method": method, "params": params or {}, **extra}))
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
            raise Failure(f"{method}: {reply['error']} {reply.get('message', '')}".strip())
        return reply.get("result", {})


def as_json(expression):
    """A script whose value is the JSON text of the expression's value, once
    any promise it makes has settled: the same reading in every protocol."""
    return f"(async () => JSON.stringify(await ({expression})))()"


def loads(text):
    return None if text is None else json.loads(text)


# --- The engines -----------------------------------------------------------------

class Engine:
    """What every adapter offers; coordinates are CSS pixels of the page.
      start()              raises EngineMissing when the engine cannot start
      js(expression)       the expression's value, once its promise settles
      open(url, preload)   loads url; preload (a script) runs in the page
                           before the page's own scripts where the protocol
                           allows it, else right after load
      click(x, y), press_escape()   input through the browser, not a script
      hide(), show()       puts another tab over the page (a minimised
                           window in WebKit) and brings the page back
      screenshot(rect)     PNG bytes of the page's rectangle {x, y, w, h}
      console()            the page's console lines, where the protocol has them
      close()
    """
    name = "?"

    def __init__(self, scratch, webgl=True):
        self.scratch = scratch
        self.webgl = webgl
        self.preload = None
        self.procs = []
        self.desktop = None
        self.rpc = self.ws = self.session = None

    def console(self):
        return []

    def close(self):
        for proc in reversed(self.procs):
            stop(proc)
        if self.desktop:
            self.desktop.stop()


def pointer_click(x, y):
    return [{"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"}, "actions": [
        {"type": "pointerMove", "x": round(x), "y": round(y), "origin": "viewport"},
        {"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]}]


ESCAPE_KEY = [{"type": "key", "id": "keyboard", "actions": [
    {"type": "keyDown", "value": "\uE00C"}, {"type": "keyUp", "value": "\uE00C"}]}]


class Chromium(Engine):
    """Headless Chromium, the DevTools protocol on fds 3 (in) and 4 (out),
    software WebGL."""
    name = "chromium"

    def start(self):
        exe = shutil.which("chromium") or shutil.which("chromium-browser")
        if not exe:
            raise EngineMissing("chromium is not installed")
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()
        keep = [fcntl.fcntl(to_browser_r, fcntl.F_DUPFD, 10), fcntl.fcntl(from_browser_w, fcntl.F_DUPFD, 10)]

        def child_fds():
            os.setsid()
            os.dup2(keep[0], 3)
            os.dup2(keep[1], 4)

        profile = tempfile.mkdtemp(prefix="chromium-", dir=self.scratch)
        args = [exe, "--headless", "--remote-debugging-pipe", "--no-sandbox",
                "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--ignore-gpu-blocklist",
                "--no-first-run", "--no-default-browser-check", "--disable-extensions",
                "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
                f"--window-size={VIEW_W},{VIEW_H}", f"--user-data-dir={profile}", "about:blank"]
        if not self.webgl:
            args.insert(1, "--disable-webgl")
        self.stderr_path = os.path.join(self.scratch, "chromium-stderr.txt")
        with open(self.stderr_path, "wb") as err:
            self.procs.append(subprocess.Popen(args, preexec_fn=child_fds, close_fds=False,
                                               stdout=subprocess.DEVNULL, stderr=err))
        for fd in [to_browser_r, from_browser_w] + keep:
            os.close(fd)
        self.rpc = Rpc(self._send, self._receiver())
        try:
            targets = self.browser_call("Target.getTargets", timeout=30)["targetInfos"]
        except Failure as e:
            raise EngineMissing(f"chromium did not start ({e}): {tail(self.stderr_path)}")
        page = next((t for t in targets if t["type"] == "page"), None)
        if page is None:
            page = {"targetId": self.browser_call("Target.createTarget", {"url": "about:blank"})["targetId"]}
        self.target, self.cover = page["targetId"], None
        self.session = self.browser_call("Target.attachToTarget", {"targetId": page["targetId"],
                                                                   "flatten": True})["sessionId"]
        self.call("Runtime.enable")
        self.call("Page.enable")
        self.call("Emulation.setDeviceMetricsOverride", {"width": VIEW_W, "height": VIEW_H,
                                                         "deviceScaleFactor": 1, "mobile": False})

    def _send(self, text):
        os.write(self.to_browser, text.encode() + b"\0")

    def _receiver(self):
        pending = [b""]

        def receive():
            while b"\0" not in pending[0]:
                chunk = os.read(self.from_browser, 65536)
                if not chunk:
                    return None
                pending[0] += chunk
            raw, pending[0] = pending[0].split(b"\0", 1)
            return raw.decode()

        return receive

    def browser_call(self, method, params=None, timeout=60):
        return self.rpc.call(method, params, timeout)

    def call(self, method, params=None, timeout=60):
        return self.rpc.call(method, params, timeout, sessionId=self.session)

    def js(self, expression):
        result = self.call("Runtime.evaluate", {"expression": as_json(expression), "returnByValue": True,
                                                "awaitPromise": True})
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            raise Failure(f"{expression}: {details.get('exception', {}).get('description') or details.get('text')}")
        return loads(result["result"].get("value"))

    def open(self, url, preload=None):
        if self.preload:
            self.call("Page.removeScriptToEvaluateOnNewDocument", {"identifier": self.preload})
            self.preload = None
        if preload:
            self.preload = self.call("Page.addScriptToEvaluateOnNewDocument", {"source": preload})["identifier"]
        self.call("Page.navigate", {"url": url})

    def click(self, x, y):
        for kind in ("mouseMoved", "mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y, "button": "left",
                                                   "clickCount": 1})

    def press_escape(self):
        for kind in ("rawKeyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", {"type": kind, "key": "Escape", "code": "Escape",
                                                 "windowsVirtualKeyCode": 27, "nativeVirtualKeyCode": 27})

    def hide(self):
        self.cover = self.browser_call("Target.createTarget", {"url": "about:blank"})["targetId"]

    def show(self):
        self.browser_call("Target.activateTarget", {"targetId": self.target})
        if self.cover:
            self.browser_call("Target.closeTarget", {"targetId": self.cover})
            self.cover = None

    def viewport(self, width, height, scale=1):
        """The page's size and its device pixels per CSS pixel."""
        self.call("Emulation.setDeviceMetricsOverride", {"width": width, "height": height,
                                                         "deviceScaleFactor": scale, "mobile": False})

    def scripts(self, enabled):
        self.call("Emulation.setScriptExecutionDisabled", {"value": not enabled})

    def screenshot(self, rect):
        shot = self.call("Page.captureScreenshot", {"format": "png", "clip": {
            "x": rect["x"], "y": rect["y"], "width": rect["w"], "height": rect["h"], "scale": 1}})
        return base64.b64decode(shot["data"])

    def console(self):
        lines = []
        for e in self.rpc.events:
            if e.get("method") == "Runtime.consoleAPICalled":
                lines.append(" ".join(str(a.get("value", a.get("description", ""))) for a in e["params"]["args"]))
            elif e.get("method") == "Runtime.exceptionThrown":
                lines.append("exception: " + json.dumps(e["params"]["exceptionDetails"])[:400])
        return lines

    def close(self):
        if self.rpc and self.procs[0].poll() is None:
            try:
                self.browser_call("Browser.close", timeout=5)
                self.procs[0].wait(10)
            except (Failure, OSError, subprocess.TimeoutExpired):
                pass
        super().close()


# Firefox's own defaults that get in the way of an unattended run: first-run
# pages, telemetry's notice, update checks, the question on closing.
FIREFOX_PREFS = {
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "browser.aboutwelcome.enabled": False,
    "datareporting.policy.dataSubmissionEnabled": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
    "app.update.disabledForTesting": True,
    "browser.tabs.warnOnClose": False,
}


class Firefox(Engine):
    """Firefox ESR on the private display, WebDriver BiDi on the port it
    serves itself."""
    name = "firefox"

    def start(self):
        exe = shutil.which("firefox-esr") or shutil.which("firefox")
        if not exe:
            raise EngineMissing("firefox-esr is not installed")
        self.desktop = Desktop(self.scratch)
        env = self.desktop.start()
        profile = tempfile.mkdtemp(prefix="firefox-", dir=self.scratch)
        with open(os.path.join(profile, "user.js"), "w") as f:
            for key, value in FIREFOX_PREFS.items():
                f.write(f"user_pref({json.dumps(key)}, {json.dumps(value)});\n")
        self.stderr_path = os.path.join(self.scratch, "firefox-stderr.txt")
        with open(self.stderr_path, "wb") as err:
            proc = spawn([exe, "--remote-debugging-port", "0", "--no-remote", "--new-instance",
                                     "--profile", profile, "about:blank"],
                                    env=env, stdout=err, stderr=subprocess.STDOUT)
        self.procs.append(proc)
        # Firefox says on its standard error where it listens.
        address, deadline = None, time.time() + 60
        while address is None and time.time() < deadline and proc.poll() is None:
            m = re.search(r"WebDriver BiDi listening on ws://([0-9.]+):([0-9]+)", tail(self.stderr_path, 50))
            if m:
                address = (m.group(1), int(m.group(2)))
            time.sleep(0.1)
        if address is None:
            raise EngineMissing(f"firefox did not start: {tail(self.stderr_path)}")
        try:
            self.ws = WebSocket(address[0], address[1], "/session")
        except OSError as e:
            raise EngineMissing(f"firefox's WebDriver BiDi refused the connection: {e}")
        self.rpc = Rpc(self.ws.send, self.ws.recv)
        self.rpc.call("session.new", {"capabilities": {"alwaysMatch": {"acceptInsecureCerts": True}}})
        self.rpc.call("session.subscribe", {"events": ["log.entryAdded"]})
        self.context = self.rpc.call("browsingContext.getTree", {"maxDepth": 0})["contexts"][0]["context"]
        self.cover = None
        self.rpc.call("browsingContext.setViewport", {"context": self.context,
                                                      "viewport": {"width": VIEW_W, "height": VIEW_H}})

    def js(self, expression):
        result = self.rpc.call("script.evaluate", {"expression": as_json(expression), "awaitPromise": True,
                                                   "target": {"context": self.context}})
        if result.get("type") == "exception":
            raise Failure(f"{expression}: {result['exceptionDetails'].get('text')}")
        return loads(result["result"].get("value"))

    def open(self, url, preload=None):
        if self.preload:
            self.rpc.call("script.removePreloadScript", {"script": self.preload})
            self.preload = None
        if preload:
            self.preload = self.rpc.call("script.addPreloadScript", {
                "functionDeclaration": f"() => {{ {preload} }}", "contexts": [self.context]})["script"]
        self.rpc.call("browsingContext.navigate", {"context": self.context, "url": url, "wait": "interactive"})

    def click(self, x, y):
        self.rpc.call("input.performActions", {"context": self.context, "actions": pointer_click(x, y)})

    def press_escape(self):
        self.rpc.call("input.performActions", {"context": self.context, "actions": ESCAPE_KEY})

    def hide(self):
        self.cover = self.rpc.call("browsingContext.create", {"type": "tab"})["context"]

    def show(self):
        self.rpc.call("browsingContext.activate", {"context": self.context})
        if self.cover:
            self.rpc.call("browsingContext.close", {"context": self.cover})
            self.cover = None

    def screenshot(self, rect):
        shot = self.rpc.call("browsingContext.captureScreenshot", {"context": self.context, "clip": {
            "type": "box", "x": rect["x"], "y": rect["y"], "width": rect["w"], "height": rect["h"]}})
        return base64.b64decode(shot["data"])

    def console(self):
        return [f"{e['params'].get('level')}: {e['params'].get('text')}" for e in self.rpc.events
                if e.get("method") == "log.entryAdded"]

    def close(self):
        if self.rpc and self.rpc.alive:
            try:
                self.rpc.call("browser.close", timeout=10)
                self.procs[0].wait(10)
            except (Failure, subprocess.TimeoutExpired):
                pass
        if self.ws:
            self.ws.close()
        super().close()


class WebKit(Engine):
    """WebKitGTK's MiniBrowser on the private display, through
    WebKitWebDriver (classic WebDriver over HTTP)."""
    name = "webkit"

    def start(self):
        driver = shutil.which("WebKitWebDriver")
        if not driver:
            raise EngineMissing("WebKitWebDriver is not installed (package webkit2gtk-driver)")
        browser = next((p for p in (f"/usr/lib/{arch}/webkit2gtk-4.{v}/MiniBrowser"
                                    for arch in ("x86_64-linux-gnu", "aarch64-linux-gnu", "i386-linux-gnu")
                                    for v in (1, 0)) if os.access(p, os.X_OK)), None)
        if not browser:
            raise EngineMissing("WebKitGTK's MiniBrowser is not installed (package libwebkit2gtk-4.1-0)")
        self.desktop = Desktop(self.scratch)
        env = self.desktop.start()
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.stderr_path = os.path.join(self.scratch, "webkit-stderr.txt")
        with open(self.stderr_path, "wb") as err:
            self.procs.append(spawn([driver, f"--port={self.port}", "--host=127.0.0.1"],
                                               env=env, stdout=err, stderr=subprocess.STDOUT))
        deadline = time.time() + 20
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), 1).close()
                break
            except OSError:
                if time.time() > deadline or self.procs[0].poll() is not None:
                    raise EngineMissing(f"WebKitWebDriver did not start: {tail(self.stderr_path)}")
                time.sleep(0.1)
        try:
            reply = self.request("POST", "/session", {"capabilities": {"alwaysMatch": {
                "webkitgtk:browserOptions": {"binary": browser, "args": ["--automation"]}}}}, timeout=60)
        except Failure as e:
            raise EngineMissing(f"MiniBrowser did not start: {e} {tail(self.stderr_path)}")
        self.session = reply["sessionId"]
        self.request("POST", self.path("window/rect"), {"x": 0, "y": 0, "width": VIEW_W, "height": VIEW_H})

    def path(self, rest):
        return f"/session/{self.session}/{rest}"

    def request(self, method, path, body=None, timeout=60):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            conn.request(method, path, body=json.dumps(body) if body is not None else None,
                         headers={"Content-Type": "application/json"})
            response = conn.getresponse()
            data = json.loads(response.read() or b"{}")
        except (OSError, ValueError) as e:
            raise Failure(f"{method} {path}: {e}")
        finally:
            conn.close()
        value = data.get("value", data)
        if response.status != 200:
            raise Failure(f"{method} {path}: {response.status} "
                          f"{value.get('error', '') if isinstance(value, dict) else ''} "
                          f"{value.get('message', '') if isinstance(value, dict) else value}")
        return value

    def js(self, expression):
        return loads(self.request("POST", self.path("execute/sync"),
                                  {"script": f"return {as_json(expression)};", "args": []}))

    def open(self, url, preload=None):
        # Classic WebDriver has no script that runs before the page's own:
        # the preload runs once the page has loaded, which is before the
        # question can be answered.
        self.request("POST", self.path("url"), {"url": url})
        if preload:
            self.request("POST", self.path("execute/sync"), {"script": preload, "args": []})

    def click(self, x, y):
        self.request("POST", self.path("actions"), {"actions": pointer_click(x, y)})
        self.request("DELETE", self.path("actions"))

    def press_escape(self):
        self.request("POST", self.path("actions"), {"actions": ESCAPE_KEY})
        self.request("DELETE", self.path("actions"))

    # Without a window manager a second tab does not hide the page here;
    # minimising its window does.
    def hide(self):
        self.request("POST", self.path("window/minimize"), {})

    def show(self):
        self.request("POST", self.path("window/rect"), {"x": 0, "y": 0, "width": VIEW_W, "height": VIEW_H})

    def screenshot(self, rect):
        png = base64.b64decode(self.request("GET", self.path("screenshot")))
        # The whole viewport, cut to the rectangle.
        out = subprocess.run(["convert", "png:-", "-crop", f"{rect['w']}x{rect['h']}+{round(rect['x'])}+"
                              f"{round(rect['y'])}", "+repage", "png:-"], input=png, capture_output=True)
        if out.returncode != 0:
            raise Failure(f"cutting the screenshot failed: {out.stderr.decode(errors='replace')}")
        return out.stdout

    def close(self):
        if self.session:
            try:
                self.request("DELETE", f"/session/{self.session}", timeout=20)
            except Failure:
                pass
        super().close()


def make(name, scratch, webgl=True):
    return {"chromium": Chromium, "firefox": Firefox, "webkit": WebKit}[name](scratch, webgl)
