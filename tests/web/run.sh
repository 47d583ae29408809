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
# - a level made in the page's editor is kept and there again when the page is opened anew;
# - storage full or blocked is said at load, and every save that fails says so;
# - watching: the status line and the keys it names, and a replay that parts says where;
# - the picture in windows of three shapes, measured from screenshots, and the keys that size
#   it and open the menu (tests/web/player.py, over the DevTools protocol);
# - a game played through an Options Ok, a hidden tab and a reload is kept once and verifies;
# - the sound runs only while the game makes some, with a buffer as long as the window mixer's;
# - the page is sent gzipped and installs with its gzipped files;
# - scripts/web.sh weigh prints every figure, and its floor plays the sounds and looks for the
#   gamepads it is told to.
# usage: run.sh KORDAVEL DATA_DIR BUILD_WEB REPLAY_PART
set -u
kordavel=$1
data=$2
web=$3
replay_part=$4  # tests/web/replay_part.cpp, built
here=$(cd "$(dirname "$0")" && pwd)
for tool in chromium python3 curl; do
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
expect "message at load false"
expect "options open true"
expect "capture open true"
expect "fire button F"
expect "cancelled capture false F"
expect "esc captured true"
expect "options open false"
expect "settings fire 70"
expect "caption Один игрок"
expect "caption Start 1 Player"
expect "about true Version $("$kordavel" --version | sed 's/^Kordavel //')"
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
newest=$(sed -n 's/^newest //p' <<<"$out")
echo "kept game on the desktop: $kept ($newest)"
# The list's first row is that game: its date from its name, a one-player game of stage 1, as
# long as the desktop plays it.
expect "listed 20 $newest"
ticks=${kept#ticks=}
ticks=${ticks%% *}
seconds=$((ticks * 13 / 1000))
length=$(printf '%d:%02d' $((seconds / 60)) $((seconds % 60)))
date=$(sed -E 's/^game-(....)(..)(..)-(..)(..)(..)-.*/\1-\2-\3 \4:\5:\6/' <<<"$newest")
grep -qE "^columns $date\|One player\|1\|$length\|[0-9]+$" <<<"$out" ||
    fail "the replay list's row is not the newest game's: $(grep '^columns' <<<"$out"), want $date, $length"
echo "replay list: $(grep '^columns' <<<"$out")"

# 4. Watching: the desktop's replay skipped to its end with End, then one made to part from
# its game, skipped into with →: the page says where it parts, as the desktop does.
"$replay_part" "$serve/desktop.kdr" "$serve/parted.kdr" || fail "no replay that parts"
parted=$(desktop_verify "$serve/parted.kdr" | sed -n 's/.*parts from the game at tick \([0-9]*\).*/\1/p')
out=$(page "harness=harness.js&check=watch&whole=desktop.kdr&parted=parted.kdr")
seconds=$((30000 * 13 / 1000))
for line in "keys true" "P true" "F true" "End true" "right true" "told " \
    "told parted.kdr: the replay parts from the game at tick $parted"; do
    grep -qxF "$line" <<<"$out" || fail "watching: no line \"$line\" in: $out"
done
grep -qE "^ended .* \($((seconds / 60)):$(printf %02d $((seconds % 60)))\)$" <<<"$out" ||
    fail "watching: the end is not held with the replay's length: $(grep '^ended' <<<"$out")"
echo "watching: the parted replay says it parts at tick $parted, as the desktop does"

# 5. Every gamepad counts.
out=$(page "harness=harness.js&check=pads")
for line in "none 36" "second pad's third button 6" "and the first pad's stick left 2"; do
    grep -qxF "$line" <<<"$out" || fail "gamepads: no line \"$line\" in: $out"
done

# 6. A level made in the editor stays, after the shipped ones, when the page is opened again.
out=$(page "harness=harness.js&check=levels")
shipped=$(( $(stat -c %s "$data/lswap.dat") / 176 - 1 ))
for line in "stages $shipped" "kept-bytes 176" "stages $((shipped + 1))"; do
    grep -qxF "$line" <<<"$out" || fail "levels: no line \"$line\" in: $out"
done
echo "levels: $shipped shipped, one made in the editor kept"

# 7. Storage full (filled by the page itself) and blocked (the profile blocks site data): said
# at load, and every save that fails says so in the player's language.
for storage in full blocked; do
    if [ $storage = full ]; then
        out=$(page "harness=harness.js&check=fill")
    else
        out=$(page_prefs='{"profile":{"default_content_setting_values":{"cookies":2}}}' \
            page "harness=harness.js&check=storage&storage=blocked")
    fi
    for line in "level: told in Russian" "editor kept: true" "settings: told in Russian" \
        "replay: told in Russian"; do
        grep -qxF "$line" <<<"$out" || fail "storage $storage: no line \"$line\" in: $out"
    done
    grep -q "^at load: ..*" <<<"$out" || fail "storage $storage: nothing said at load: $out"
done
echo "storage full and blocked: said at load and at every failed save"

# 8. As a player sees the picture: window shapes, Alt+1 and Alt+2, F10 and the File menu in a
# short window, measured from screenshots.
python3 "$here/player.py" picture "http://127.0.0.1:$page_port/index.html" "$work" ||
    fail "the picture and the menu as a player finds them"
python3 "$here/player.py" sound "http://127.0.0.1:$page_port/index.html" "$work" ||
    fail "the sound as it runs and rests"

# 9. What a player does during a game does not damage its replay: a game played with the keys,
# Options and Ok in it, the tab hidden twice and the page reloaded; the page keeps the game once
# and every game it keeps verifies on the desktop.
mkdir -p "$work/keeping"
python3 "$here/player.py" keeping "http://127.0.0.1:$page_port/index.html" "$work/keeping" ||
    fail "the games kept through settings, hiding and a reload"
verified=0
for file in "$work"/keeping/kept-*.kdr; do
    [ -f "$file" ] || continue
    line=$(desktop_verify "$file")
    if [[ $line == ticks=* ]]; then
        verified=$((verified + 1))
    else
        fail "a kept game does not verify on the desktop: $line"
    fi
done
[ $verified -gt 0 ] || fail "no game kept through settings, hiding and a reload"
echo "kept through settings, hiding and a reload: $verified, each verifies on the desktop"

# 10. Sent compressed: what the server sends a browser that takes gzip unpacks to the file, and
# the installed page has every file gzipped beside itself, for a server that sends those.
cmake --install "$web" --prefix "$work/install" >/dev/null || fail "the page does not install"
for name in index.html page.js kordavel.wasm data/tank.snd; do
    curl -sf -H "Accept-Encoding: gzip" -D "$work/headers" "http://127.0.0.1:$page_port/$name" |
        gunzip | cmp -s - "$web/$name" && grep -qi '^content-encoding: gzip' "$work/headers" &&
        gunzip -c "$work/install/share/kordavel/web/$name.gz" | cmp -s - "$web/$name" ||
        fail "$name is not sent or installed gzipped"
done

# 11. What the page costs, weighed as scripts/web.sh does: every figure on its line; the floor
# drawn with the demonstration's sounds and the gamepads listened for does both, drawn by a
# worker it draws, and a way it does not know is refused by name.
web_sh=$here/../../scripts/web.sh
line=$("$web_sh" weigh --seconds 3 "$web" 2>&1) || fail "web.sh weigh: $line"
for figure in first-frame-ms transferred-bytes browser-start-ms wakes-per-s draws-per-s \
    cpu-percent "(renderer" main gpu browser gamepads audio "| chromium-floor: wakes-per-s" \
    "| with-gamepads-and-sounds: wakes-per-s" "| page-less-floor"; do
    grep -qF "$figure " <<<"$line" || fail "web.sh weigh: no \"$figure\" in: $line"
done
lines=$("$web_sh" floor --seconds 3 "$web" gamepads,sounds worker 2>&1) || fail "web.sh floor: $lines"
line=$(grep "^gamepads,sounds: " <<<"$lines")
grep -qE "sounds-per-s ([1-9]|0\.[1-9])" <<<"$line" || fail "the floor played no sound: $line"
grep -qE "gamepads ([1-9]|0\.[1-9])" <<<"$line" || fail "the floor's gamepads were not looked for: $line"
# The worker runs the floor's own loop, sent to it as source text: it must still draw.
grep -qE "^worker: .* draws-per-s [1-9]" <<<"$lines" || fail "the floor's worker drew nothing: $lines"
line=$("$web_sh" floor --seconds 1 "$web" sideways 2>&1) && fail "web.sh floor took a way it does not know"
grep -qF 'no way "sideways"' <<<"$line" || fail "web.sh floor, an unknown way: $line"
echo "weighed: every figure on the line; the floor's sounds, gamepads and worker"

[ $failures -eq 0 ] && echo "PASS" || exit 1
