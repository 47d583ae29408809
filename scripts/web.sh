#!/usr/bin/env bash
# The game in the browser, built with Debian's emscripten into build-web/.
#   scripts/web.sh                 build the page (and the desktop tree's data files it serves)
#   scripts/web.sh serve [PORT]    serve it on 127.0.0.1 (port 42080 unless given)
#   scripts/web.sh verify FILE     play a replay in headless Chromium: "ticks=N hash=H"
#   scripts/web.sh weigh [--seconds N] [FOLDER]
#                                  what the page costs: first frame, bytes, CPU share
#   scripts/web.sh floor [--seconds N] [FOLDER] [WAYS...]
#                                  what drawing it costs the browser, each way in turn
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

source scripts/web_page.sh

verify() {
    local file=$1 out
    [ -f "$file" ] || { echo "web.sh: cannot read \"$file\"" >&2; exit 2; }
    [ -f build-web/kordavel.wasm ] || build >&2
    serve_dir=$(mktemp -d)
    trap 'page_stop; rm -rf "$serve_dir"' EXIT
    for f in index.html page.js page.css kordavel.js kordavel.wasm data; do
        ln -s "$root/build-web/$f" "$serve_dir/$f"
    done
    cp "$file" "$serve_dir/replay.kdr"
    page_start "$serve_dir"
    out=$(page_run "verify=replay.kdr" 3600)
    echo "$out"
    [[ $out == ticks=* ]]
}

# weigh and floor: [--seconds N] [FOLDER] [the rest]; FOLDER (a build of the page, build-web
# unless given) is served beside the floor's script, from $serve_dir.
weigh_options() {
    seconds=20
    folder=$root/build-web
    rest=()
    while [ $# -gt 0 ]; do
        case $1 in
            --seconds) seconds=${2:?}; shift 2 ;;
            *) if [ -f "$1/kordavel.wasm" ]; then folder=$1; else rest+=("$1"); fi; shift ;;
        esac
    done
    [ "$folder" != "$root/build-web" ] || [ -f build-web/kordavel.wasm ] || build
    [ -f "$folder/kordavel.wasm" ] || { echo "web.sh: no page in \"$folder\"" >&2; exit 2; }
    serve_dir=$(mktemp -d)
    trap 'page_stop; rm -rf "$serve_dir"' EXIT
    ln -s "$(cd "$folder" && pwd)"/* "$serve_dir/"
    ln -sf "$root/scripts/web_floor.js" "$serve_dir/web_floor.js"
}

case "${1:-build}" in
    build) build ;;
    serve)
        [ -f build-web/kordavel.wasm ] || build
        port=${2:-42080}
        echo "Kordavel on http://127.0.0.1:$port/"
        exec python3 scripts/web_serve.py build-web "$port"
        ;;
    verify)
        [ $# -eq 2 ] || { echo "usage: scripts/web.sh verify FILE.kdr" >&2; exit 2; }
        verify "$2"
        ;;
    weigh)
        # What the page costs in headless Chromium: milliseconds to the first frame (from the
        # page's request), bytes transferred, then over SECONDS (20) of the demonstration its
        # wakes and canvas draws a second and the share of a core taken by each kind of Chromium
        # process; then the same for the floor, the demonstration's drawing alone, and for the
        # floor that also plays its sounds and listens for gamepads: all the page asks of
        # Chromium, with no game behind it. Last, the page's share less that floor's. FOLDER is
        # another build of the page to weigh the same way (build-web unless given).
        shift
        weigh_options "$@"
        page_start "$serve_dir"
        page=$(page_weigh "$seconds") || true
        floor=$(page_weigh "$seconds" "harness=web_floor.js&floor=page") || true
        whole=$(page_weigh "$seconds" "harness=web_floor.js&floor=gamepads,sounds") || true
        beyond=$(awk -v a="$page" -v b="$whole" 'function cpu(s) { sub(/.*cpu-percent /, "", s);
            return s + 0 } BEGIN { printf "%.1f", cpu(a) - cpu(b) }')
        echo "$page | chromium-floor: ${floor#floor } | with-gamepads-and-sounds: ${whole#floor }" \
            "| page-less-floor $beyond"
        [[ $page == first-frame-ms* && $floor == floor* && $whole == floor* ]]
        ;;
    floor)
        # The floor drawn each of the given WAYS in turn (scripts/web_floor.js), a line for each:
        # which of the browser's costs a change of the page's drawing, sound or gamepads moves.
        shift
        weigh_options "$@"
        page_start "$serve_dir"
        status=0
        for ways in "${rest[@]:-page}"; do
            line=$(page_weigh "$seconds" "harness=web_floor.js&floor=$ways") || status=1
            echo "$ways: ${line#floor }"
        done
        exit $status
        ;;
    test)
        build
        # The page's games are checked against the desktop program of the same tree.
        cmake --build build -j2 --target kordavel replay_part
        exec tests/web/run.sh "$root/build/kordavel" "$root/build/data" "$root/build-web" \
            "$root/build/tests/replay_part"
        ;;
    *)
        echo "usage: scripts/web.sh [build | serve [PORT] | verify FILE.kdr | weigh | floor | test]" >&2
        exit 2
        ;;
esac
