# Runs the page in headless Chromium and reads what it reports; sourced by scripts/web.sh and
# tests/web/run.sh.
#   page_start DIR       serve DIR on a free port of 127.0.0.1 (42100-42999)
#   page_run QUERY [S]   open index.html?QUERY, print the page's report (S seconds at most)
#   page_weigh SECONDS   the page's cost over SECONDS of the demonstration, on one line
#   page_stop            stop the server (and a browser left running)
page_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
page_server=""
page_browser=""

page_start() {
    page_tmp=$(mktemp -d)
    for _ in $(seq 1 20); do
        page_port=$((42100 + RANDOM % 900))
        python3 "$page_dir/web_serve.py" "$1" "$page_port" --result "$page_tmp/result" \
            2>"$page_tmp/server.err" &
        page_server=$!
        for _ in $(seq 1 50); do
            if python3 -c "import socket; socket.create_connection(('127.0.0.1', $page_port), 1)" \
                2>/dev/null; then
                return 0
            fi
            kill -0 $page_server 2>/dev/null || break
            sleep 0.1
        done
        kill $page_server 2>/dev/null
        wait $page_server 2>/dev/null
    done
    echo "the page's server did not start: $(cat "$page_tmp/server.err")" >&2
    return 1
}

# Opens index.html?QUERY in a new headless Chromium with a profile of its own (its preferences
# from $page_prefs when set); $page_size is the window's size ("W,H"); $KORDAVEL_CHROMIUM_FLAGS,
# more flags for it (to try what moves a cost: KORDAVEL_CHROMIUM_FLAGS=--js-flags=... web.sh weigh).
page_open() {
    local profile="$page_tmp/profile-$RANDOM"
    rm -f "$page_tmp/result"
    if [ -n "${page_prefs:-}" ]; then
        mkdir -p "$profile/Default"
        printf '%s' "$page_prefs" >"$profile/Default/Preferences"
    fi
    # Its own temporary files go with the rest, so that page_stop removes them too.
    # Sound plays without a key pressed first, as it does once the player has pressed one.
    TMPDIR="$page_tmp" chromium --headless=new --no-sandbox --disable-gpu --no-first-run \
        --autoplay-policy=no-user-gesture-required --window-size="${page_size:-1000,657}" --user-data-dir="$profile" \
        ${KORDAVEL_CHROMIUM_FLAGS:-} \
        "http://127.0.0.1:$page_port/index.html?$1&report" >/dev/null 2>&1 &
    page_browser=$!
}

# A process and all it started, by pid.
page_tree() {
    local child
    echo "$1"
    for child in $(pgrep -P "$1"); do page_tree "$child"; done
}

# The browser's children may outlive it a moment and still write to its profile, which would
# then stay behind after page_stop: they are waited for too (5 s at most).
page_close() {
    [ -n "$page_browser" ] || return 0
    local tree pid alive
    tree=$(page_tree $page_browser)
    kill $page_browser 2>/dev/null
    wait $page_browser 2>/dev/null
    for _ in $(seq 1 50); do
        alive=""
        for pid in $tree; do kill -0 "$pid" 2>/dev/null && alive=$pid; done
        [ -n "$alive" ] || break
        sleep 0.1
    done
    page_browser=""
}

page_run() {
    local limit=${2:-300}
    page_open "$1"
    for _ in $(seq 1 $((limit * 10))); do
        [ -f "$page_tmp/result" ] && break
        kill -0 $page_browser 2>/dev/null || break
        sleep 0.1
    done
    page_close
    if [ -f "$page_tmp/result" ]; then
        cat "$page_tmp/result"
        echo
    else
        echo "error: the page reported nothing within $limit seconds"
    fi
}

# The page's cost over SECONDS of the demonstration: its two reports and the CPU share of every
# Chromium process between them (scripts/web_weigh.py). With "floor" the page draws only the
# demonstration's rectangles, at its pace: what showing it costs the browser by itself.
page_weigh() {
    local seconds=$1 settle=3 status=0
    page_open "weigh=$seconds&settle=$settle${2:+&$2}"
    python3 "$page_dir/web_weigh.py" $page_browser "$page_tmp/result" $settle $((seconds + 60)) ||
        status=$?
    page_close
    return $status
}

# The browser is waited for: it may still be writing its profile, which is removed after it.
# A killed process's status (143) is no failure of the caller's: under set -e it would end the
# exit trap before the folder is removed, and become the script's own exit status.
page_stop() {
    page_close || true
    kill "$page_server" 2>/dev/null || true
    wait "$page_server" 2>/dev/null || true
    page_server=""
    rm -rf "${page_tmp:-}" 2>/dev/null || true
}
