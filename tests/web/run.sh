#!/usr/bin/env bash
# The page in headless Chromium against the desktop program, on the shipped data:
# - a replay recorded by the desktop verifies in the page on the desktop's hash;
# - a one-player game played with the keys through the page shows, at the same ticks of the
#   same script, the very screens the headless runner writes, and the page's replay of it
#   verifies on the desktop on the page's own hash and is the runner's replay of the script,
#   byte for byte but for its start time;
# - the dialogs: a binding captured in Options reaches the stored settings, Select Level
#   starts its game, the language switches the captions, the last 20 games are kept, and a
#   kept game verifies on the desktop and plays to its end on the page;
# - a level made in the page's editor is kept and there again when the page is opened anew.
# usage: run.sh KORDAVEL DATA_DIR BUILD_WEB
set -u
kordavel=$1
data=$2
web=$3
here=$(cd "$(dirname "$0")" && pwd)
for tool in chromium python3; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
serve=$work/serve
mkdir -p "$serve" "$work/desk"
trap 'page_stop; rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

for f in index.html page.js page.css kordavel.js kordavel.wasm data; do ln -s "$web/$f" "$serve/$f"; done
cp "$here/harness.js" "$here/one_player.txt" "$serve/"
cp -r "$data" "$work/desk/data"

source "$here/../../scripts/web_page.sh"
page_start "$serve" || exit 1

# The page's report after a run with the given query.
page() {
    page_run "$1" 600
}

# desktop_verify FILE: the desktop's verify line for a replay file.
desktop_verify() {
    "$kordavel" --root "$work/desk" --replay "$1" --verify 2>&1
}

# 1. The desktop's replay (a one-player game, then a duel) in the page.
"$kordavel" --headless --root "$work/desk" --ticks 30000 --script "$here/../replay/hash_game.txt" \
    --record "$serve/desktop.kdr" || fail "the desktop did not record its replay"
want=$(desktop_verify "$serve/desktop.kdr")
have=$(page "verify=desktop.kdr")
[ "$want" = "$have" ] || fail "desktop replay: desktop \"$want\", page \"$have\""
echo "desktop replay in the page: $have"

# A replay's bytes but for when it was recorded (the start time in its header, and so the
# checksum), in hex.
recorded_bytes() {
    python3 - "$1" <<'PY'
import sys
b = open(sys.argv[1], "rb").read()
def varint(at):
    while b[at] & 0x80:
        at += 1
    return at + 1
at = 10                     # magic and format version
n, shift, end = 0, 0, at    # the build: its length, then its bytes
while True:
    n |= (b[end] & 0x7F) << shift
    shift += 7
    end += 1
    if not b[end - 1] & 0x80:
        break
time_at = end + n
print((b[:time_at] + b[varint(time_at):-4]).hex())
PY
}

# 2. The screens of a game played with the keys, and its replay back on the desktop; the page
#    records the same bytes the runner does for the same keys.
(cd "$work/desk" && "$kordavel" --headless --root "$work/desk" --script "$here/one_player.txt" \
    --record "$work/runner.kdr") || fail "the headless runner did not play the script"
cp "$work"/desk/shot-*.png "$serve/"
out=$(page "harness=harness.js&check=screen&script=one_player.txt")
screens=$(grep -c '^screen [0-9]*: same$' <<<"$out")
wanted=$(grep -c ' screen ' "$here/one_player.txt")
grep '^screen' <<<"$out"
[ "$screens" -eq "$wanted" ] || fail "$screens of $wanted screens are the desktop's"
grep '^error' <<<"$out" && fail "the screen check stopped"
sed -n 's/^replay //p' <<<"$out" | base64 -d >"$work/page.kdr"
browser=$(sed -n 's/^hash //p' <<<"$out")
desktop=$(desktop_verify "$work/page.kdr")
[ -n "$browser" ] && [ "$browser" = "$desktop" ] || fail "page's replay: page \"$browser\", desktop \"$desktop\""
echo "page's replay on the desktop: $desktop"
[ "$(recorded_bytes "$work/page.kdr")" = "$(recorded_bytes "$work/runner.kdr")" ] ||
    fail "the page's replay and the runner's of the same keys differ"
echo "page's replay: the runner's bytes ($(stat -c %s "$work/page.kdr") bytes)"

# 3. The dialogs, the kept games and watching one.
out=$(page "harness=harness.js&check=dialogs")
missing=0
expect() {
    grep -qxF "$1" <<<"$out" || { fail "dialogs: no line \"$1\""; missing=1; }
}
expect "options open true"
expect "capture open true"
expect "fire button F"
expect "options open false"
expect "settings fire 70"
expect "caption Один игрок"
expect "caption Start 1 Player"
expect "untranslated "
expect "kept 20"
expect "watching 1"
expect "watching 0"
# Stage 2 in a duel is being played (state 0 play or 2 intro, not paused, not watching).
grep -qE '^status (0|2) 0 0 0 0$' <<<"$out" || fail "Select Level did not start its game: $(grep '^status' <<<"$out")"
[ $missing -eq 0 ] || grep -v '^replay' <<<"$out"
sed -n 's/^replay //p' <<<"$out" | base64 -d >"$work/kept.kdr"
kept=$(desktop_verify "$work/kept.kdr")
[[ $kept == ticks=* ]] || fail "the kept game does not verify on the desktop: $kept"
echo "kept game on the desktop: $kept ($(sed -n 's/^newest //p' <<<"$out"))"

# 4. A level made in the editor stays, after the shipped ones, when the page is opened again.
out=$(page "harness=harness.js&check=levels")
shipped=$(( $(stat -c %s "$data/lswap.dat") / 176 - 1 ))
for line in "stages $shipped" "kept-bytes 176" "stages $((shipped + 1))"; do
    grep -qxF "$line" <<<"$out" || fail "levels: no line \"$line\" in: $out"
done
echo "levels: $shipped shipped, one made in the editor kept"

[ $failures -eq 0 ] && echo "PASS" || exit 1
