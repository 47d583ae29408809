#!/usr/bin/env bash
# Two real windows under one Xvfb play a network duel, each from its own folder (own settings,
# own replays), keys pressed by xdotool into whichever window has the focus. The joiner moves
# player 2 with its own player 1 keys, then leaves with Esc and confirms; both windows keep a
# replay, and both replays are the same game to the same end. A stranger knocks first and is
# turned away; a third player who knocks during the game is told the host at its address is busy.
# usage: two_windows_test.sh KORDAVEL_BINARY DATA_DIR
set -euo pipefail
bin=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for side in host join stranger; do mkdir -p "$work/$side"; cp -r "$data" "$work/$side/data"; done
printf '\x01' | dd of="$work/stranger/data/tank.grp" bs=1 seek=4000 conv=notrunc status=none
port=$((20000 + ($$ * 17) % 30000))

cat >"$work/play.sh" <<PLAY
#!/usr/bin/env bash
focus() { xdotool windowfocus --sync "\$1" 2>/dev/null || true; sleep 0.2; }
"$bin" --root "$work/host" --host "127.0.0.1:$port" --mode duel --stage 1 --ticks 30 &
host=\$!
hw=\$(xdotool search --sync --onlyvisible --pid \$host | head -1)
# A program with another graphics file knocks first: it is told why and the host waits on.
"$bin" --headless --root "$work/stranger" --join "127.0.0.1:$port" >"$work/stranger.out" 2>&1
echo "stranger exit \$?"
"$bin" --root "$work/join" --join "127.0.0.1:$port" --ticks 30 &
join=\$!
jw=\$(xdotool search --sync --onlyvisible --pid \$join | head -1)
xdotool windowmove "\$jw" 660 0; xdotool windowmove "\$hw" 0 0
sleep 1.5
focus "\$hw"; xdotool key space; sleep 0.5     # the host starts the stage
# A third player knocks while the game is on: the host is busy, it is told so, and gives up.
( "$bin" --headless --root "$work/join" --join "127.0.0.1:$port" >"$work/late.out" 2>&1
  echo "late exit \$?" ) &
late=\$!
focus "\$jw"; xdotool keydown Up; sleep 0.8; xdotool keyup Up
wait \$late                                         # it knocks again for a few seconds
xdotool key Escape; sleep 0.5; xdotool key Return   # leave, confirmed
wait \$join
wait \$host
PLAY
chmod +x "$work/play.sh"
xvfb-run -a -s "-screen 0 1280x800x24" "$work/play.sh" >"$work/log" 2>&1 || {
    cat "$work/log"
    exit 1
}
status=0
grep -q "stranger exit 5" "$work/log" && grep -q "graphics file differs" "$work/stranger.out" ||
    { echo "FAIL: the stranger was not turned away: $(cat "$work/stranger.out")"; status=1; }
grep -q "127.0.0.1:$port: The host is busy with another player." "$work/late.out" && grep -q "late exit 5" "$work/log" ||
    { echo "FAIL: a third player during the game: $(cat "$work/late.out")"; status=1; }
kept() { ls "$work/$1"/replays/game-*.kdr 2>/dev/null | head -1; }
h=$(kept host) j=$(kept join)
[ -n "$h" ] && [ -n "$j" ] || { echo "FAIL: kept replays: host \"$h\", joiner \"$j\""; cat "$work/log"; exit 1; }
host=$("$bin" --root "$work/host" --replay "$h" --verify)
join=$("$bin" --root "$work/join" --replay "$j" --verify)
[ "$host" = "$join" ] || { echo "FAIL: the host's replay ends on $host, the joiner's on $join"; status=1; }
# The joiner's keys moved player 2 from where the stage placed it.
ticks=${host%% *}
for ((t = 1; t <= ${ticks#ticks=}; t += 5)); do echo "$t dump $work/d-$t.json"; done >"$work/dump.txt"
echo "${ticks#ticks=} dump $work/end.json" >>"$work/dump.txt"
"$bin" --headless --root "$work/host" --replay "$h" --script "$work/dump.txt"
read -r start end < <(python3 - "$work" "${ticks#ticks=}" <<'PY'
import json, sys
work, last = sys.argv[1], int(sys.argv[2])
def p2(name):
    d = json.load(open(f"{work}/{name}.json"))
    return d["GameState"], "%d,%d" % (d["players"][1]["x"], d["players"][1]["y"])
first = next((p2(f"d-{t}")[1] for t in range(1, last + 1, 5) if p2(f"d-{t}")[0] == 0), "none")
print(first, p2("end")[1])
PY
)
[ "$start" != none ] && [ "$start" != "$end" ] || { echo "FAIL: player 2 stayed at $start: the joiner's keys did not reach it"; status=1; }
[ $status = 0 ] && echo "two windows played one duel ($host; player 2 from $start to $end)"
exit $status
