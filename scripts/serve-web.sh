#!/usr/bin/env bash
# Builds the web page (preset "web") and serves build/web on 127.0.0.1 with
# the two headers that make the page cross-origin isolated, which the
# browser requires before it gives the page threads. Prints the address;
# Ctrl-C stops the server. Usage: scripts/serve-web.sh [PORT]  (default 8000)
set -euo pipefail
cd "$(dirname "$0")/.."
port="${1:-8000}"
command -v emcc >/dev/null || { echo "emcc not found: install Debian's emscripten package" >&2; exit 1; }
cmake --preset web >/dev/null
cmake --build --preset web
exec python3 - "$port" build/web <<'PY'
import functools, http.server, sys

class Handler(http.server.SimpleHTTPRequestHandler):
    def end_headers(self):
        self.send_header("Cross-Origin-Opener-Policy", "same-origin")
        self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

port, folder = int(sys.argv[1]), sys.argv[2]
server = http.server.ThreadingHTTPServer(("127.0.0.1", port), functools.partial(Handler, directory=folder))
print(f"Serving {folder} at http://127.0.0.1:{server.server_address[1]}/", flush=True)
try:
    server.serve_forever()
except KeyboardInterrupt:
    pass
PY
