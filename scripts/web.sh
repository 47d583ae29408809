#!/usr/bin/env bash
# The game in the browser, built with Debian's emscripten into build-web/.
#   scripts/web.sh                 build the page (and the desktop tree's data files it serves)
#   scripts/web.sh serve [PORT]    serve it on 127.0.0.1 (port 42080 unless given)
#   scripts/web.sh verify FILE     play a replay in headless Chromium: "ticks=N hash=H"
#   scripts/web.sh test            the browser tests (tests/web)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# Debian's emscripten runs its tools on node with Debian's node modules.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
# emscripten builds its system libraries on first use into its cache: the package's own
# folder when it can be written (root, as in CI), else one beside the build.
if [ -z "${EM_CACHE:-}" ] && [ ! -w /usr/share/emscripten/cache ]; then
    export EM_CACHE=$root/build-web/.emcache
fi

build() {
    # The data files come from the desktop tree's asset compiler.
    if [ ! -f build/CMakeCache.txt ]; then
        cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    fi
    cmake --build build -j2 --target kordavel_data
    emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release \
        -DKORDAVEL_WEB_DATA="$root/build/data" >/dev/null
    cmake --build build-web -j2
}

# serve DIR PORT: a static server on 127.0.0.1 in the background; its pid in $server.
start_server() {
    python3 -m http.server --bind 127.0.0.1 --directory "$1" "$2" >/dev/null 2>&1 &
    server=$!
    for _ in $(seq 1 50); do
        python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $2), 1)" \
            2>/dev/null && return 0
        sleep 0.1
    done
    echo "web.sh: the server on port $2 did not start" >&2
    return 1
}

# A folder to serve: the page, and whatever else a run needs beside it.
stage_dir() {
    local dir
    dir=$(mktemp -d)
    for f in index.html page.js page.css kordavel.js kordavel.wasm data; do
        ln -s "$root/build-web/$f" "$dir/$f"
    done
    echo "$dir"
}

free_port() {
    python3 - <<'PY'
import random, socket
for _ in range(200):
    port = random.randint(42100, 42999)
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", port))
    except OSError:
        continue
    s.close()
    print(port)
    break
PY
}

# browse URL BUDGET_MS: the page's DOM once it has settled.
browse() {
    chromium --headless=new --no-sandbox --disable-gpu --user-data-dir="$(mktemp -d)" \
        --virtual-time-budget="$2" --dump-dom "$1" 2>/dev/null
}

# The text of the page's result element.
result_of() {
    python3 -c '
import html, re, sys
m = re.search(r"<pre id=\"result\"[^>]*>(.*?)</pre>", sys.stdin.read(), re.S)
print(html.unescape(m.group(1)) if m else "error: the page wrote no result")'
}

verify() {
    local file=$1 port out
    [ -f "$file" ] || { echo "web.sh: cannot read \"$file\"" >&2; exit 2; }
    [ -f build-web/kordavel.wasm ] || build >&2
    dir=$(stage_dir)
    cp "$file" "$dir/replay.kdr"
    port=$(free_port)
    start_server "$dir" "$port"
    trap 'kill $server 2>/dev/null; rm -rf "$dir"' EXIT
    out=$(browse "http://127.0.0.1:$port/index.html?verify=replay.kdr" 600000 | result_of)
    echo "$out"
    [[ $out == ticks=* ]]
}

case "${1:-build}" in
    build) build ;;
    serve)
        [ -f build-web/kordavel.wasm ] || build
        port=${2:-42080}
        echo "Kordavel on http://127.0.0.1:$port/"
        exec python3 -m http.server --bind 127.0.0.1 --directory build-web "$port"
        ;;
    verify)
        [ $# -eq 2 ] || { echo "usage: scripts/web.sh verify FILE.kdr" >&2; exit 2; }
        verify "$2"
        ;;
    test)
        build
        exec tests/web/run.sh "$root/build/kordavel" "$root/build/data" "$root/build-web"
        ;;
    *)
        echo "usage: scripts/web.sh [build | serve [PORT] | verify FILE.kdr | test]" >&2
        exit 2
        ;;
esac
