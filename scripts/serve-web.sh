#!/usr/bin/env bash
# Builds the web page (preset "web") and serves build/web on 127.0.0.1 as
# plain static files (no-store, so a rebuilt page is never taken from the
# browser's cache). Prints the address; Ctrl-C stops the server.
# Usage: scripts/serve-web.sh [PORT]  (default 8000)
# A malformed or busy port is reported in one line before anything is built.
set -euo pipefail
cd "$(dirname "$0")/.."
port="${1:-8000}"
[ $# -le 1 ] || { echo "usage: scripts/serve-web.sh [PORT]" >&2; exit 2; }

# Binds the port on 127.0.0.1 and serves FOLDER there, or with no folder
# only checks that it could. One line on any failure.
serve() {
  python3 - "$@" <<'PY'
import errno, functools, http.server, sys

text = sys.argv[1]
if not text.isdigit() or not 1 <= int(text) <= 65535:
    print(f"serve-web.sh: port {text!r}: not a port number (1 to 65535)", file=sys.stderr)
    sys.exit(2)
port = int(text)

class Handler(http.server.SimpleHTTPRequestHandler):
    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

folder = sys.argv[2] if len(sys.argv) > 2 else None
try:
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), functools.partial(Handler, directory=folder))
except OSError as e:
    reason = "in use by another program" if e.errno == errno.EADDRINUSE else e.strerror
    sys.exit(f"serve-web.sh: port {port}: {reason}")
if folder is None:
    server.server_close()
    sys.exit(0)
print(f"Serving {folder} at http://127.0.0.1:{port}/", flush=True)
try:
    server.serve_forever()
except KeyboardInterrupt:
    pass
PY
}

serve "$port"
command -v emcc >/dev/null || { echo "serve-web.sh: emcc not found: install Debian's emscripten package" >&2; exit 1; }
cmake --preset web >/dev/null
cmake --build --preset web
serve "$port" build/web
