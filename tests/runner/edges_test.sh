#!/usr/bin/env bash
# The program at the edges, on the shipped data: saves that other copies, read-only files and
# killed saves get in the way of, inputs too large to read, and start-ups that cannot go on.
# usage: edges_test.sh KORDAVEL DATA_DIR CASE...
set -u
. "$(dirname "$0")/../testkit/xvfb.sh"
kordavel=$1 data=$2
shift 2
work=$(mktemp -d)
xvfb=
trap '[ -n "$xvfb" ] && kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# fresh NAME: a root with a copy of the shipped data; prints its path.
fresh() { rm -rf "${work:?}/$1"; mkdir -p "$work/$1"; cp -r "$data" "$work/$1/data"; echo "$work/$1"; }
run() { "$kordavel" --headless "$@" >"$work/out" 2>&1; }
field() { grep -o "\"$2\": [0-9]*" "$1" | head -1 | grep -o '[0-9]*$'; }
size() { stat -c %s "$1"; }
# N editor visits from tick 2 on: a tile put down with Enter, saved with Esc.
edits() { awk -v n="$1" 'BEGIN { for (i = 0; i < n; i++) { t = 2 + i * 6
    print t, "menu MLevelEditor"; print t + 1, "key 13 down"; print t + 2, "key 13 up"
    print t + 3, "key 27 down"; print t + 4, "key 27 up" } }'; }

for case in "$@"; do
    case $case in
    playable)
        # A level saved in the editor is a stage of the same run.
        root=$(fresh playable)
        echo "1 dump $work/before.json" >"$work/s.txt"
        run --root "$root" --script "$work/s.txt" || fail "playable: first run: $(cat "$work/out")"
        count=$(field "$work/before.json" LevelCount)
        { edits 1; echo "10 dump $work/saved.json"; echo "12 select $((count + 1)) 0"
          echo "30 dump $work/new.json"; } >"$work/s.txt"
        run --root "$root" --script "$work/s.txt" || fail "playable: exit $?: $(cat "$work/out")"
        [ "$(field "$work/saved.json" LevelCount)" = $((count + 1)) ] ||
            fail "playable: LevelCount $(field "$work/saved.json" LevelCount) after the save, $count before"
        [ "$(field "$work/new.json" StageNumber)" = $((count + 1)) ] || fail "playable: the new stage did not start"
        ;;
    lock)
        # Two copies saving levels at once on one folder: every record of both is kept. Fifty
        # saves each, so that the two runs' saves meet however they start (ten each met in
        # only some runs without the lock).
        root=$(fresh lock)
        before=$(size "$root/data/lswap.dat")
        edits 50 >"$work/s.txt"
        run --root "$root" --script "$work/s.txt" & first=$!
        "$kordavel" --headless --root "$root" --script "$work/s.txt" >"$work/out2" 2>&1 || fail "lock: second copy"
        wait $first || fail "lock: first copy: $(cat "$work/out")"
        [ "$(size "$root/data/lswap.dat")" = $((before + 100 * 176)) ] ||
            fail "lock: the level file grew by $(($(size "$root/data/lswap.dat") - before)) bytes, not 100 records"
        ;;
    stale)
        # What killed saves left is removed at start; names a person gives files stay.
        root=$(fresh stale)
        gone=(.kordavel.ini.Ab3xYz kordavel.ini.q1W2e3 data/.lswap.dat.zzzzzz data/lswap.dat.X9a0bC)
        kept=(kordavel.ini.backup kordavel.ini.OLD123 data/lswap.dat.old .kordavel.ini.Ab3xY notes.txt)
        for f in "${gone[@]}" "${kept[@]}"; do echo x >"$root/$f"; done
        mkdir "$root/data/.lswap.dat.Dir123"
        ln -s notes.txt "$root/.kordavel.ini.Lnk123"
        run --root "$root" --ticks 5 || fail "stale: exit $?: $(cat "$work/out")"
        for f in "${gone[@]}"; do [ ! -e "$root/$f" ] || fail "stale: $f was left"; done
        for f in "${kept[@]}" data/.lswap.dat.Dir123 .kordavel.ini.Lnk123; do
            [ -e "$root/$f" ] || [ -L "$root/$f" ] || fail "stale: $f was removed"
        done
        ;;
    readonly)
        # Read-only settings or levels stay byte for byte, also for root, and the run fails.
        root=$(fresh readonly)
        printf '[Options]\r\nSoundVolume=35\r\n' >"$root/kordavel.ini"
        cp "$root/kordavel.ini" "$work/ini"
        chmod 0444 "$root/kordavel.ini"
        run --root "$root" --ticks 5
        [ $? = 1 ] || fail "readonly: settings not saved, yet the exit code was not 1"
        cmp -s "$root/kordavel.ini" "$work/ini" || fail "readonly: the read-only settings file changed"
        # The messages name the files where they are, not as the game's data names them.
        grep -qF "could not be saved to \"$root/kordavel.ini\"" "$work/out" ||
            fail "readonly: no message naming the settings file: $(cat "$work/out")"
        chmod 0644 "$root/kordavel.ini"
        cp "$root/data/lswap.dat" "$work/levels"
        chmod 0444 "$root/data/lswap.dat"
        edits 1 >"$work/s.txt"
        run --root "$root" --script "$work/s.txt"
        [ $? = 1 ] || fail "readonly: level not saved, yet the exit code was not 1"
        cmp -s "$root/data/lswap.dat" "$work/levels" || fail "readonly: the read-only level file changed"
        grep -qF "\"$root/data/lswap.dat\" cannot be written" "$work/out" ||
            fail "readonly: no message naming the level file: $(cat "$work/out")"
        ;;
    limits)
        root=$(fresh limits)
        # A script over 16 MiB is refused unread, however harmless its lines.
        head -c $((16 * 1024 * 1024 + 1)) /dev/zero | tr '\0' ' ' >"$work/big.txt"
        run --root "$root" --script "$work/big.txt" --ticks 1
        code=$?
        if [ $code != 2 ] || ! grep -q "at most 16777216" "$work/out"; then
            fail "limits: a 16 MiB + 1 script was not refused (exit $code): $(cat "$work/out")"
        fi
        for option in "--stage 2" "--mode duel"; do
            # shellcheck disable=SC2086
            run --root "$root" --ticks 1 $option
            code=$?
            [ $code = 2 ] || fail "limits: $option without --host: exit $code"
            grep -q "needs --host" "$work/out" || fail "limits: $option without --host: no reason given"
        done
        # Installed: a 1 GiB sparse player level file is not read whole at start.
        prefix=$work/prefix home=$work/home
        mkdir -p "$prefix/games" "$prefix/share/kordavel" "$home/share/kordavel"
        cp "$kordavel" "$prefix/games/" && cp -r "$data" "$prefix/share/kordavel/data"
        cp "$data/lswap.dat" "$home/share/kordavel/" && truncate -s 1G "$home/share/kordavel/lswap.dat"
        if [ -x /usr/bin/time ]; then
            env HOME="$home" XDG_DATA_HOME="$home/share" XDG_CONFIG_HOME="$home/config" \
                /usr/bin/time -f %M -o "$work/rss" "$prefix/games/kordavel" --headless --ticks 20 >"$work/out" 2>&1 ||
                fail "limits: installed with a 1 GiB level file: $(cat "$work/out")"
            grep -q "^installed" <(env HOME="$home" XDG_DATA_HOME="$home/share" "$prefix/games/kordavel" --paths) ||
                fail "limits: the copied program did not run as installed"
            [ "$(tail -1 "$work/rss")" -lt 200000 ] || fail "limits: the start took $(tail -1 "$work/rss") KB"
        else
            echo "limits: /usr/bin/time is not installed; the 1 GiB level file not checked"
        fi
        ;;
    sections)
        # 140,000 sections before the game's own, read in one pass (CTest's timeout is the
        # check of the time): the game's keys after them are found.
        root=$(fresh sections)
        awk 'BEGIN { a = "abcdefghijklmnopqrstuvwxyz"
            for (n = 0; n < 140000; n++) printf "[%s%s%s%s]\n", substr(a, n % 26 + 1, 1),
                substr(a, int(n / 26) % 26 + 1, 1), substr(a, int(n / 676) % 26 + 1, 1), substr(a, int(n / 17576) + 1, 1)
            print "[Options]\nSoundVolume=35" }' >"$root/kordavel.ini"
        echo "1 dump $work/ini.json" >"$work/s.txt"
        run --root "$root" --script "$work/s.txt" || fail "sections: exit $?: $(cat "$work/out")"
        [ "$(field "$work/ini.json" soundVolume)" = 35 ] || fail "sections: the settings after 140,000 sections were not read"
        ;;
    nodisplay)
        # No display named, or one that cannot be reached: said on standard error, exit 1.
        root=$(fresh nodisplay)
        for display in "-u DISPLAY" DISPLAY=:4711; do
            # shellcheck disable=SC2086
            env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY $display "$kordavel" --root "$root" \
                --ticks 5 >"$work/out" 2>&1
            code=$?
            [ $code = 1 ] || fail "nodisplay: $display: exit $code: $(cat "$work/out")"
            grep -q "no display" "$work/out" || fail "nodisplay: $display: not said: $(cat "$work/out")"
        done
        ;;
    window)
        # The window's start-up message goes to standard error too; its box closed, exit 1.
        for tool in Xvfb xdotool; do command -v $tool >/dev/null || { echo "SKIP: no $tool"; exit 77; }; done
        root=$(fresh window)
        rm "$root/data/tank.grp"
        start_xvfb "$work" 800x600x24
        DISPLAY=$display "$kordavel" --root "$root" >/dev/null 2>"$work/err" & game=$!
        for _ in $(seq 1 100); do grep -q "not found" "$work/err" && break; sleep 0.1; done
        for _ in $(seq 1 40); do
            kill -0 $game 2>/dev/null || break
            sleep 0.3
            DISPLAY=$display xdotool key Return
        done
        kill $game 2>/dev/null && fail "window: the message box never closed"
        wait $game
        code=$?
        [ $code = 1 ] || fail "window: exit $code"
        grep -q 'tank.grp" not found' "$work/err" || fail "window: no message on standard error: $(cat "$work/err")"
        ;;
    *) fail "unknown case $case" ;;
    esac
    echo "$case: done"
done
[ $failures = 0 ]
