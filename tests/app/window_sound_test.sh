#!/usr/bin/env bash
# The real window plays the game's sounds: the device and SDL_mixer are loaded on a thread after
# the first frame, so a broken hand-over would leave every game silent without an error.
# usage: window_sound_test.sh KORDAVEL DATA_DIR
set -u
. "$(dirname "$0")/../testkit/xvfb.sh"
kordavel=$1
command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed"; exit 77; }
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
cp -r "$2" "$work/data"
# Three shots, well after the device has had time to open.
cat > "$work/script.txt" <<SCRIPT
10 menu MStart1Player
30 key 32 down
32 key 32 up
300 key 17 down
304 key 17 up
400 key 17 down
404 key 17 up
500 key 17 down
504 key 17 up
600 menu MExit
SCRIPT
start_xvfb "$work" 1024x768x24
SDL_AUDIODRIVER=dummy DISPLAY=$display "$kordavel" --root "$work" --script "$work/script.txt" \
    --frame-stats >"$work/out.txt" 2>&1
status=$?
voices=$(sed -n 's/^sound: voices=//p' "$work/out.txt")
if [ $status -ne 0 ] || [ -z "$voices" ] || [ "$voices" -lt 3 ]; then
    echo "FAIL: exit $status, voices '${voices}' (three shots at least)"
    cat "$work/out.txt"
    exit 1
fi
echo "ok: $voices voices"
