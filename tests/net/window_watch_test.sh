#!/usr/bin/env bash
# The window watches a headless network game it came to in the middle, under Xvfb: it follows
# the game to its end, keeps what it watched among its replays, and that replay ends on the
# players' tick and state.
# usage: window_watch_test.sh KORDAVEL_BINARY DATA_DIR
set -euo pipefail
bin=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$data" "$work/data"
port=$((20000 + ($$ * 17) % 30000))
# Both players start the stage and fire now and then.
for t in 20 300 500 700; do echo "$t key 32 down"; echo "$((t + 3)) key 32 up"; echo "$((t + 10)) key 17 down"; echo "$((t + 14)) key 17 up"; done >"$work/p.txt"

cat >"$work/play.sh" <<PLAY
#!/usr/bin/env bash
"$bin" --headless --root "$work" --realtime --host "127.0.0.1:$port" --ticks 900 \
    --script "$work/p.txt" >"$work/host.out" 2>&1 &
host=\$!
sleep 0.3
"$bin" --headless --root "$work" --realtime --join "127.0.0.1:$port" --script "$work/p.txt" \
    >"$work/join.out" 2>&1 &
join=\$!
sleep 2
# The window's own game runs 30 ticks once the watching is over, then closes.
"$bin" --root "$work" --watch "127.0.0.1:$port" --ticks 30 >"$work/window.out" 2>&1
echo "window exit \$?"
wait \$host \$join
PLAY
chmod +x "$work/play.sh"
xvfb-run -a -s "-screen 0 1024x768x24" "$work/play.sh" >"$work/log" 2>&1 || {
    cat "$work/log" "$work/host.out"
    exit 1
}
status=0
grep -q "window exit 0" "$work/log" || { echo "FAIL: $(cat "$work/log" "$work/window.out")"; status=1; }
want=$(grep '^ticks=' "$work/host.out" | tail -1)
saved=$(ls "$work"/replays/game-*.kdr 2>/dev/null | head -1)
[ -n "$saved" ] || { echo "FAIL: the window kept no replay of what it watched"; exit 1; }
got=$("$bin" --root "$work" --replay "$saved" --verify)
[ "$got" = "$want" ] || { echo "FAIL: the window's replay ends on $got, the game on $want"; status=1; }
grep -q '^spectators: admitted=1 ' "$work/host.out" || { echo "FAIL: the host $(grep '^spectators' "$work/host.out")"; status=1; }
[ $status = 0 ] && echo "the window watched from the middle to the end: $got"
exit $status
