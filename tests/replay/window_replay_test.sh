#!/usr/bin/env bash
# A game played in the real window under Xvfb, keys pressed by xdotool, recorded; then played
# back headless and in the window. Every dump and screen must be byte-identical at the same
# ticks, and the window's own per-game file must end in the same state as the --record file.
# usage: window_replay_test.sh KORDAVEL_BINARY DATA_DIR
set -euo pipefail
bin=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$data" "$work/data"
ticks="250 350 450 520"
for t in $ticks; do
    echo "$t dump $work/w$t.json"
    echo "$t screen $work/w$t"
done >"$work/window.txt"
sed "s#$work/w#$work/h#" "$work/window.txt" >"$work/headless.txt"
sed "s#$work/w#$work/v#" "$work/window.txt" >"$work/watch.txt"

cat >"$work/play.sh" <<PLAY
#!/usr/bin/env bash
"$bin" --root "$work" --record "$work/game.kdr" --script "$work/window.txt" --ticks 560 &
pid=\$!
wid=\$(xdotool search --sync --name Kordavel | head -1)
xdotool windowfocus --sync "\$wid" 2>/dev/null || true
sleep 1.8                          # the title picture has risen
xdotool key space; sleep 0.4       # stage intro
xdotool key space; sleep 0.2       # play
xdotool keydown Left; sleep 0.5; xdotool keydown ctrl; sleep 0.3; xdotool keyup ctrl
xdotool keyup Left; xdotool keydown Up; sleep 0.6; xdotool keyup Up
xdotool key p; sleep 0.3; xdotool key p   # the second press comes within the pause guard
wait \$pid
# The same replay watched in the window; it plays at normal speed, then the window closes.
"$bin" --root "$work" --replay "$work/game.kdr" --script "$work/watch.txt" --ticks 1
PLAY
chmod +x "$work/play.sh"
xvfb-run -a -s "-screen 0 1024x768x24" "$work/play.sh" >"$work/log" 2>&1 || {
    cat "$work/log"
    exit 1
}
"$bin" --headless --root "$work" --replay "$work/game.kdr" --script "$work/headless.txt"

status=0
for t in $ticks; do
    for ext in .json .back .frame .png; do
        for other in h v; do
            if ! cmp -s "$work/w$t$ext" "$work/$other$t$ext"; then
                echo "FAIL: $other$t$ext differs from the window's w$t$ext"
                status=1
            fi
        done
    done
done
last=$(echo $ticks | awk '{print $NF}')
grep -q '"GameState": 0,' "$work/w$last.json" || {
    echo "FAIL: the keys never started a game"
    status=1
}
# The window keeps each game from its own start: it ends in the state the whole recording ends in.
saved=$(ls "$work"/replays/game-*.kdr | head -1)
whole=$("$bin" --root "$work" --replay "$work/game.kdr" --verify)
kept=$("$bin" --root "$work" --replay "$saved" --verify)
wholeTicks=${whole#ticks=}; wholeTicks=${wholeTicks%% *}
keptTicks=${kept#ticks=}; keptTicks=${keptTicks%% *}
echo "$wholeTicks dump $work/whole-end.json" >"$work/whole-end.txt"
echo "$keptTicks dump $work/kept-end.json" >"$work/kept-end.txt"
"$bin" --headless --root "$work" --replay "$work/game.kdr" --script "$work/whole-end.txt"
"$bin" --headless --root "$work" --replay "$saved" --script "$work/kept-end.txt"
# Only the count of ticks the replay ran differs.
if [ "$keptTicks" -ge "$wholeTicks" ] ||
    ! cmp -s <(grep -v '^  "tick": ' "$work/whole-end.json") <(grep -v '^  "tick": ' "$work/kept-end.json"); then
    echo "FAIL: the window's saved game ends in $kept, the recording in $whole, in other states"
    status=1
fi
[ $status = 0 ] && echo "window recording replayed identically ($whole)"
exit $status
