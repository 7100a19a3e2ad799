#!/usr/bin/env bash
# Builds the web page (preset "web") and serves what its download holds
# (index.html, vantor.js, vantor.wasm, 2.xm: the files of the package, put
# into a private temporary folder) on 127.0.0.1 as plain static files:
# no-store, so a rebuilt page is never taken from the browser's cache; no
# folder listings, nothing else of the build folder. Prints the address;
# Ctrl-C, SIGTERM or SIGHUP stop the server and remove the folder.
# Usage: scripts/serve-web.sh [PORT]  (default 8000; decimal, 1 to 65535)
# The port is taken before anything is built, and a malformed, busy or
# privileged one is reported in one line. Copies started at once build one
# after the other (a lock in build/), then each serves its own copy.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -le 1 ] || { echo "usage: scripts/serve-web.sh [PORT]" >&2; exit 2; }
[ $# -eq 1 ] || set -- 8000

exec python3 - "$1" <<'PY'
import errno, fcntl, http.server, mimetypes, os, re, shutil, signal, subprocess, sys, tempfile, urllib.parse

NAME = "serve-web.sh"


def fail(text, status=1):
    print(f"{NAME}: {text}", file=sys.stderr)
    sys.exit(status)


text = sys.argv[1]
# ASCII digits only: int() would also take other scripts' digits, signs and
# underscores.
if not re.fullmatch(r"[0-9]{1,5}", text) or not 1 <= int(text) <= 65535:
    fail(f"port {text!r}: not a port number (1 to 65535)", 2)
port = int(text)


def unprivileged_start():
    try:
        with open("/proc/sys/net/ipv4/ip_unprivileged_port_start") as f:
            return int(f.read())
    except (OSError, ValueError):
        return 1024


class Handler(http.server.BaseHTTPRequestHandler):
    files = {}  # URL path -> file, the package's files only

    def do_GET(self):
        self.reply(True)

    def do_HEAD(self):
        self.reply(False)

    def reply(self, body):
        path = self.path.split("?", 1)[0].split("#", 1)[0]
        try:
            path = urllib.parse.unquote(path, errors="strict")
        except UnicodeDecodeError:
            return self.send_error(400, "Bad request path")
        parts = path.split("/")
        if not path.startswith("/") or "\0" in path or "\\" in path or "." in parts or ".." in parts:
            return self.send_error(400, "Bad request path")
        file = self.files.get("/index.html" if path == "/" else path)
        if file is None:
            return self.send_error(404, "Not found")
        try:
            with open(file, "rb") as f:
                data = f.read()
        except OSError:
            return self.send_error(404, "Not found")
        kind = {".wasm": "application/wasm", ".js": "text/javascript", ".html": "text/html; charset=utf-8"}.get(
            os.path.splitext(file)[1]) or mimetypes.guess_type(file)[0] or "application/octet-stream"
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        if body:
            self.wfile.write(data)


# The port first, so that a bad one is said before the build, and nobody
# takes it meanwhile.
try:
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
except OSError as e:
    if e.errno == errno.EADDRINUSE:
        fail(f"port {port}: in use by another program")
    if e.errno == errno.EACCES and port < unprivileged_start():
        fail(f"port {port}: only the administrator may serve on ports below {unprivileged_start()};"
             f" choose one from {unprivileged_start()} to 65535")
    fail(f"port {port}: {e.strerror}")


def stop(number, frame):
    raise SystemExit(128 + number)


signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGHUP, stop)

if not shutil.which("emcc"):
    fail("emcc not found: install Debian's emscripten package")

site = None
try:
    # One build at a time in build/web; the lock goes with this process.
    os.makedirs("build", exist_ok=True)
    lock = open("build/serve-web.lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        print(f"{NAME}: another copy is building the page; waiting for it", file=sys.stderr, flush=True)
        fcntl.flock(lock, fcntl.LOCK_EX)
    if subprocess.run(["cmake", "--preset", "web"], stdout=subprocess.DEVNULL).returncode != 0 or \
            subprocess.run(["cmake", "--build", "--preset", "web"]).returncode != 0:
        fail("the web page could not be built")
    site = tempfile.mkdtemp(prefix="serve-web-")
    if subprocess.run(["cmake", "--install", "build/web", "--prefix", site, "--component", "Unspecified"],
                      stdout=subprocess.DEVNULL).returncode != 0:
        fail("the web page's files could not be gathered")
    lock.close()
    for root, dirs, names in os.walk(site):
        for name in names:
            file = os.path.join(root, name)
            if os.path.isfile(file) and not os.path.islink(file):
                Handler.files["/" + os.path.relpath(file, site).replace(os.sep, "/")] = file
    print(f"Serving {', '.join(sorted(n[1:] for n in Handler.files))} at http://127.0.0.1:{port}/", flush=True)
    server.serve_forever()
except KeyboardInterrupt:
    pass
finally:
    server.server_close()
    if site:
        shutil.rmtree(site, ignore_errors=True)
PY
