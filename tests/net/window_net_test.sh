#!/usr/bin/env bash
# A network duel between the real window under Xvfb (the host, keys pressed by xdotool) and a
# headless joiner on 127.0.0.1. Esc asks first and leaves only when confirmed; the window keeps
# the game among its replays, and both machines' replays end on the same tick and state.
# usage: window_net_test.sh KORDAVEL_BINARY DATA_DIR
set -euo pipefail
bin=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$data" "$work/data"
port=$((20000 + ($$ * 13) % 30000))
for t in 30 200 400 600 800; do echo "$t key 17 down"; echo "$((t + 5)) key 17 up"; done \
    >"$work/joiner.txt"

cat >"$work/play.sh" <<PLAY
#!/usr/bin/env bash
"$bin" --root "$work" --host "127.0.0.1:$port" --mode duel --stage 2 --ticks 30 &
pid=\$!
wid=\$(xdotool search --sync --name Kordavel | head -1)
xdotool windowfocus --sync "\$wid" 2>/dev/null || true
"$bin" --headless --root "$work" --join "127.0.0.1:$port" --script "$work/joiner.txt" \
    --record "$work/joiner.kdr" >"$work/joiner.out" 2>&1 &
joiner=\$!
sleep 1.5
xdotool key space; sleep 0.3       # the stage intro
xdotool keydown Left; sleep 0.5; xdotool keydown ctrl; sleep 0.3; xdotool keyup ctrl
xdotool keyup Left; xdotool keydown Up; sleep 0.6; xdotool keyup Up
sleep 0.5
xdotool key Escape; sleep 0.8      # asks: the game goes on meanwhile
kill -0 \$joiner 2>/dev/null && echo "joiner still playing while asked" || echo "joiner ended without asking"
xdotool key Return                 # yes; the window's own game runs its 30 ticks and closes
wait \$joiner
wait \$pid
PLAY
chmod +x "$work/play.sh"
xvfb-run -a -s "-screen 0 1024x768x24" "$work/play.sh" >"$work/log" 2>&1 || {
    cat "$work/log" "$work/joiner.out"
    exit 1
}
status=0
grep -q "^ticks=" "$work/joiner.out" || { echo "FAIL: the joiner did not finish"; status=1; }
saved=$(ls "$work"/replays/game-*.kdr 2>/dev/null | head -1)
[ -n "$saved" ] || { echo "FAIL: the window kept no replay of the network game"; exit 1; }
grep -q "joiner still playing while asked" "$work/log" || { echo "FAIL: Esc ended the game without asking"; status=1; }
window=$("$bin" --root "$work" --replay "$saved" --verify)
ticks=${window%% *}
joiner=$("$bin" --root "$work" --replay "$work/joiner.kdr" --verify)
if [ "$window" != "$joiner" ]; then
    echo "FAIL: the window's replay ends on $window, the joiner's on $joiner"
    status=1
fi
# The window's keys reached the duel on stage 2: its tank moved off its starting place.
echo "${ticks#ticks=} dump $work/end.json" >"$work/dump.txt"
"$bin" --headless --root "$work" --replay "$saved" --script "$work/dump.txt"
state=$(tr -d ' \n' <"$work/end.json")
for want in '"GameState":0,' '"GameMode":3,' '"StageNumber":2,'; do
    case $state in *"$want"*) ;; *) echo "FAIL: the window's duel ended without $want"; status=1 ;; esac
done
first=$(echo "$state" | grep -o '"players":\[{[^]]*' | grep -o '"x":[0-9]*,"y":[0-9]*' | head -1)
[ -n "$first" ] && [ "$first" != '"x":80,"y":180' ] || { echo "FAIL: the window's keys never moved its tank"; status=1; }
[ $status = 0 ] && echo "network game in the window replayed identically ($window; player 1 at $first)"
exit $status
