#!/usr/bin/env bash
# The real window under Xvfb, driven with xdotool: a key held while a menu or a dialog opens is
# let go there, and the game must see it released afterwards. Also the forms dump of the window.
# usage: window_keys_test.sh KORDAVEL DATA_DIR
set -u
. "$(dirname "$0")/../testkit/xvfb.sh"
kordavel=$1
data=$2
for tool in Xvfb xdotool; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
cp -r "$data" "$work/data"
# The shell waits for the script's dumps, so that each xdotool step falls between the right
# ticks whatever the machine's speed.
cat > "$work/script.txt" <<SCRIPT
10 menu MStart1Player
30 key 32 down
32 key 32 up
40 dump $work/playing.json
40 forms $work/forms.json
150 dump $work/held.json
400 dump $work/menu.json
500 menu MAbout
520 dump $work/about.json
800 dump $work/dialog.json
820 menu MExit
SCRIPT
start_xvfb "$work" 1024x768x24
export DISPLAY=$display
"$kordavel" --root "$work" --script "$work/script.txt" >"$work/out.txt" 2>&1 &
game=$!
await() {
    for _ in $(seq 1 300); do
        [ -s "$work/$1" ] && return 0
        kill -0 $game 2>/dev/null || break
        sleep 0.05
    done
    echo "FAIL: no $1"
    cat "$work/out.txt"
    exit 1
}
await playing.json
window=$(xdotool search --onlyvisible --name " Kordavel" | head -1)
xdotool windowfocus "$window" 2>/dev/null
# Up held, File clicked open, Up let go inside the menu, File clicked shut.
xdotool keydown Up
await held.json
xdotool mousemove 212 182 click 1
sleep 0.3
xdotool keyup Up
sleep 0.2
xdotool mousemove 212 182 click 1
await menu.json
# Up held again when the about box opens; let go in it; Return closes it.
xdotool keydown Up
await about.json
xdotool keyup Up
sleep 0.2
xdotool key Return
wait $game
status=$?
failed=0
check() {  # file, expected KeysDown
    local got
    got=$(grep -o '"KeysDown": \[[^]]*\]' "$work/$1")
    if [ "$got" != "\"KeysDown\": [$2]" ]; then
        echo "FAIL: $1 has $got, expected [$2]"
        failed=1
    else
        echo "ok: $1 $got"
    fi
}
[ $status -eq 0 ] || { echo "FAIL: the window exited with $status"; cat "$work/out.txt"; exit 1; }
check held.json 38   # the key reaches the game while the window has it
check menu.json ""   # released inside the menu: not down afterwards
check dialog.json "" # released inside the about box: not down afterwards
# No settings file: the program starts in Russian (the menu items the game adds too), and the two
# StaticText1 labels keep their own lines of the caption table.
for caption in '"Уровень:"' '"Вверх"' '"Файл"' '"Sound FX"' '"Смотреть повтор…"' '"Сетевая игра…"' \
    '"Управление"'; do
    if grep -q "\"caption\": $caption" "$work/forms.json"; then
        echo "ok: forms.json has $caption"
    else
        echo "FAIL: forms.json has no caption $caption"
        failed=1
    fi
done
exit $failed
