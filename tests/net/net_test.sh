#!/usr/bin/env bash
# Network games between two headless programs on 127.0.0.1: straight, through the test relay
# (round trip, jitter, loss, damage, strays, an outage), under fuzzing by a third program, with
# players as they come from home (own levels, difficulty, gamepad; a stranger knocking first),
# and a player leaving. Every game must end on the same hash on both machines and in both replays.
# usage: net_test.sh KORDAVEL NETRELAY ROOT TICKS CASE...
set -uo pipefail
kordavel=$1 relay=$2 root=$(cd "$3" && pwd) ticks=$4
src=$(cd "$(dirname "$0")/../.." && pwd)
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The games save their settings in their root: a copy of the data, not the build's own folder.
mkdir "$work/root" && cp -r "$root/data" "$work/root/data" && root="$work/root"
# Twenty ports a case from here. The tests that run side by side each get their own block
# (KORDAVEL_TEST_PORTS, from CMake): blocks drawn from process ids overlapped now and then, and
# a datagram from another test's game then started this relay's outage clock early.
base=${KORDAVEL_TEST_PORTS:-$((20000 + ($$ * 7) % 30000))}
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# A constant of the network code in milliseconds, by name, in whole seconds: what the tests
# expect of the waits follows from the code.
seconds() { echo $(($(sed -n "s/^constexpr uint32_t $1 = \([0-9]*\);.*/\1/p" "$src/src/net/$2") / 1000)); }

# A scripted player: random arrows, fire and Start on player 1's default keys, from a seed.
script() {
    awk -v seed="$1" -v ticks="$2" 'BEGIN {
        s = seed; t = 1; held = 0
        while (t < ticks) {
            s = (s * 1103515245 + 12345) % 2147483648; r = s % 100
            if (held) print t, "key", held, "up"
            held = (r < 80) ? 37 + r % 4 : 0
            if (held) print t, "key", held, "down"
            if (r % 2) { print t, "key 17 down"; print t + 1, "key 17 up" }
            if (r % 10 == 3) { print t, "key 32 down"; print t + 2, "key 32 up" }
            t += 3 + s % 37
        }
    }' | sort -n -s -k1,1
}

# play NAME HOST_ARGS JOIN_PORT [JOIN_ROOT [HOST_ROOT]]: one game; leaves NAME.host/.join outputs
# and replays.
play() {
    local name=$1 hostArgs=$2 joinPort=$3 joinRoot=${4:-$root} hostRoot=${5:-$root}
    # shellcheck disable=SC2086
    "$kordavel" --headless --root "$hostRoot" $hostArgs --script "$work/p1.txt" \
        --record "$work/$name.host.kdr" >"$work/$name.host" 2>&1 &
    local hostPid=$!
    sleep 0.3
    "$kordavel" --headless --root "$joinRoot" ${realtime:-} --join "127.0.0.1:$joinPort" \
        --script "$work/p2.txt" --record "$work/$name.join.kdr" >"$work/$name.join" 2>&1
    joinCode=$?
    wait $hostPid
    hostCode=$?
}

final() { grep '^ticks=' "$1" | tail -1; }

# check NAME: both ended well on one hash after every check agreed; both replays reach it.
check() {
    local name=$1 want
    if [ "$hostCode" != 0 ] || [ "$joinCode" != 0 ]; then
        fail "$name: exit codes host $hostCode, joiner $joinCode"
        cat "$work/$name.host" "$work/$name.join"
        return
    fi
    want=$(final "$work/$name.host")
    [ "$want" = "ticks=$gameTicks $(echo "$want" | cut -d' ' -f2)" ] || fail "$name: host ran $want"
    [ "$(final "$work/$name.join")" = "$want" ] || fail "$name: joiner ended on $(final "$work/$name.join"), host on $want"
    local checks=$((gameTicks / 60))
    [ $((gameTicks % 60)) = 0 ] || checks=$((checks + 1))
    grep -q "hash_checks=$checks " "$work/$name.host" || fail "$name: host compared $(grep -o 'hash_checks=[0-9]*' "$work/$name.host"), not $checks"
    for side in host join; do
        local got
        got=$("$kordavel" --root "$root" --replay "$work/$name.$side.kdr" --verify | tail -1)
        [ "$got" = "$want" ] || fail "$name: the $side's replay ends on $got, the game on $want"
    done
    echo "$name: $want"
    grep -h '^net:' "$work/$name.host" "$work/$name.join" | sed "s/^/  $name /"
}

script 11 "$ticks" >"$work/p1.txt"
script 12 "$ticks" >"$work/p2.txt"

for case in "$@"; do
    port=$((base + 10)); base=$((base + 20))
    realtime=
    case $case in
    two | duel)
        gameTicks=$ticks
        play "$case" "--host 127.0.0.1:$port --mode $case --ticks $ticks" "$port"
        check "$case"
        ;;
    fuzz)
        # Twenty seconds of a two-player game at the window's pace while a third program sends
        # garbage at the host, raw and over ENet: it must end exactly as the same game undisturbed.
        # Both come through one relay, which gives each machine a port of its own to the host.
        gameTicks=1540
        "$relay" relay $((port + 2)) "$port" --seconds 60 >"$work/relay.out" &
        relayPid=$!
        (sleep 0.6 && exec "$relay" fuzz $((port + 2)) --seconds 600 --seed 5 >"$work/fuzz.out") &
        fuzzPid=$!
        realtime=--realtime
        play fuzz "--realtime --host 127.0.0.1:$port --mode two --ticks $gameTicks" $((port + 2))
        kill "$fuzzPid" "$relayPid" 2>/dev/null; wait "$fuzzPid" "$relayPid" 2>/dev/null
        check fuzz
        grep -q 'strangers=[1-9]' "$work/fuzz.host" || fail "fuzz: the third program never reached the host"
        grep -q 'peers=[3-9]' "$work/relay.out" || fail "fuzz: the relay carried $(grep -o 'peers=[0-9]*' "$work/relay.out"), not the joiner and both of the fuzzer's sockets"
        realtime=
        play calm "--host 127.0.0.1:$((port + 1)) --mode two --ticks $gameTicks" $((port + 1))
        [ "$(final "$work/calm.host")" = "$(final "$work/fuzz.host")" ] ||
            fail "fuzz: the fuzzed game ended on $(final "$work/fuzz.host"), the calm one on $(final "$work/calm.host")"
        ;;
    knock)
        # A third program knocks at a waiting host for six seconds, raw and over ENet: the host
        # counts what it turns away in a line every few seconds, not a line each, and the joiner
        # who comes then is in at its first knock.
        "$kordavel" --headless --root "$root" --host "127.0.0.1:$port" --ticks 100 \
            --script "$work/p1.txt" >"$work/knock.host" 2>&1 &
        hostPid=$!
        "$relay" fuzz "$port" --seconds 6 --seed 7 >"$work/knock.fuzz"
        "$kordavel" --headless --root "$root" --join "127.0.0.1:$port" --script "$work/p2.txt" \
            >"$work/knock.join" 2>&1
        joinCode=$?
        wait $hostPid
        hostCode=$?
        [ "$hostCode" = 0 ] && [ "$joinCode" = 0 ] || fail "knock: exit codes host $hostCode, joiner $joinCode"
        counted=$(grep -c "turned away [0-9]* connections in" "$work/knock.host")
        lines=$(grep -c "^kordavel:" "$work/knock.host")
        turned=$(grep -o 'turned_away=[0-9]*' "$work/knock.host" | cut -d= -f2)
        [ "$counted" -ge 1 ] && [ "$lines" -le 6 ] && [ "${turned:-0}" -ge 100 ] ||
            fail "knock: $lines lines for ${turned:-0} turned away: $(head -8 "$work/knock.host")"
        grep -q ' retries=0 ' "$work/knock.join" || fail "knock: the joiner $(grep -o 'retries=[0-9]*' "$work/knock.join")"
        echo "knock: ${turned:-0} turned away in $lines lines; the joiner in at once"
        ;;
    rtt*)
        # rttMS[-outage]: at the window's pace through the relay, with jitter, 5 % loss, 1 %
        # damaged datagrams and a stray datagram each way every 50 ms.
        rtt=${case#rtt}; outage=
        case $rtt in *-outage) rtt=${rtt%-outage}; outage="--outage 4 7" ;; esac
        gameTicks=${NET_REALTIME_TICKS:-770}
        realtime=--realtime
        # shellcheck disable=SC2086
        "$relay" relay $((port + 1)) "$port" --rtt "$rtt" --jitter 10 --loss 5 --corrupt 1 \
            --garbage 50 $outage --seconds $((gameTicks / 50 + 30)) >"$work/relay.out" &
        relayPid=$!
        play "$case" "--realtime --host 127.0.0.1:$port --mode duel --ticks $gameTicks" $((port + 1))
        kill "$relayPid" 2>/dev/null; wait "$relayPid" 2>/dev/null
        check "$case"
        if [ -n "$outage" ]; then
            grep -q "Waiting for .* — [0-9]* s" "$work/$case.join" ||
                fail "$case: no waiting message; $(cat "$work/relay.out")"
        fi
        if [ "$rtt" -ge 200 ]; then
            # Far apart, both run ahead with two ticks of delay and correct their guesses, at
            # nearly full pace (77 a second; a loaded machine loses a little to scheduling).
            for side in host join; do
                line=$(grep '^net:' "$work/$case.$side")
                rate=$(echo "$line" | sed 's/.*ticks_per_second=\([0-9.]*\).*/\1/')
                awk -v r="$rate" 'BEGIN { exit !(r >= 74) }' || fail "$case: the $side ran $rate ticks a second"
                echo "$line" | grep -q ' delay=2 ' || fail "$case: the $side's delay is not 2"
                echo "$line" | grep -q ' ticks_run_again=[1-9]' || fail "$case: the $side never corrected a guess"
            done
        fi
        ;;
    lossy*)
        # lossyN: N ticks as fast as lockstep allows through the relay, with jitter, 5 % loss,
        # 1 % damaged datagrams and strays.
        gameTicks=${case#lossy}
        "$relay" relay $((port + 1)) "$port" --rtt 2 --jitter 4 --loss 5 --corrupt 1 \
            --garbage 50 --seconds 3000 >"$work/relay.out" &
        relayPid=$!
        play "$case" "--host 127.0.0.1:$port --mode two --ticks $gameTicks" $((port + 1))
        kill "$relayPid" 2>/dev/null; wait "$relayPid" 2>/dev/null
        check "$case"
        ;;
    lost)
        # The line goes down for good, two seconds in: both hold the game for the wait they
        # count down, the joiner knocking again all the while, then both stop, say why and keep
        # their replays, which agree up to the earlier of their last ticks.
        realtime=--realtime
        "$relay" relay $((port + 1)) "$port" --outage 2 90 --seconds 60 >"$work/relay.out" &
        relayPid=$!
        started=$(date +%s)
        play lost "--realtime --host 127.0.0.1:$port --mode two --ticks 100000" $((port + 1))
        kill "$relayPid" 2>/dev/null; wait "$relayPid" 2>/dev/null
        took=$(($(date +%s) - started))
        wait=$(seconds kGiveUpMs session.h)
        [ "$hostCode" = 5 ] && [ "$joinCode" = 5 ] || fail "lost: exit codes $hostCode $joinCode"
        for side in host join; do
            grep -q "No word from .* for $wait s: the connection to the other player was lost" "$work/lost.$side" ||
                fail "lost: the $side's message: $(tail -3 "$work/lost.$side")"
            # Counted down to the second: the first count after the line went down is the
            # whole wait less a second, and the last is one second.
            first=$(grep -o 'Waiting for .* — [0-9]* s' "$work/lost.$side" | head -1 | grep -o '[0-9]* s$')
            last=$(grep -o 'Waiting for .* — [0-9]* s' "$work/lost.$side" | tail -1 | grep -o '[0-9]* s$')
            [ "$first" = "$((wait - 1)) s" ] && [ "$last" = "1 s" ] || fail "lost: the $side counted from $first to $last"
        done
        [ "$(grep -o 'peers=[0-9]*' "$work/relay.out" | cut -d= -f2)" -ge 2 ] || fail "lost: the joiner never knocked again ($(cat "$work/relay.out"))"
        # Kept to the second, and no goodbye waited for: from the outage to the end is the wait.
        [ "$took" -ge $((wait + 2)) ] && [ "$took" -le $((wait + 6)) ] || fail "lost: took $took s to give up"
        ticks=""
        for side in host join; do
            got=$("$kordavel" --root "$root" --replay "$work/lost.$side.kdr" --verify | tail -1)
            [ "$got" = "$(final "$work/lost.$side")" ] || fail "lost: the $side's replay ends on $got, the game on $(final "$work/lost.$side")"
            got=${got%% *}; ticks="$ticks ${got#ticks=}"
        done
        # Each ended on the last tick it confirmed; up to the earlier one they are one game.
        earlier=$(echo "$ticks" | tr ' ' '\n' | grep -o '[0-9]*' | sort -n | head -1)
        a=$("$kordavel" --root "$root" --replay "$work/lost.host.kdr" --verify --ticks "$earlier" | tail -1)
        b=$("$kordavel" --root "$root" --replay "$work/lost.join.kdr" --verify --ticks "$earlier" | tail -1)
        [ "$a" = "$b" ] || fail "lost: at tick $earlier the host's replay is on $a, the joiner's on $b"
        echo "lost: both gave up after ${took} s, on ticks$ticks, agreeing at $earlier"
        ;;
    drop)
        # The line goes down for longer than the joiner waits before it knocks again, well
        # within the hold: the joiner comes back on a new connection (a new port through the
        # relay), keeping its own game, and the game ends as if nothing happened.
        gameTicks=1800
        realtime=--realtime
        down=$(($(seconds kReconnectAfterMs rejoin.h) + 7)) wait=$(seconds kGiveUpMs session.h)
        "$relay" relay $((port + 1)) "$port" --rtt 20 --outage 3 $((3 + down)) --seconds 120 >"$work/relay.out" &
        relayPid=$!
        play drop "--realtime --host 127.0.0.1:$port --mode two --ticks $gameTicks" $((port + 1))
        kill "$relayPid" 2>/dev/null; wait "$relayPid" 2>/dev/null
        check drop
        for side in host join; do
            grep -q 'rejoins=1 .*first_tick=0$' "$work/drop.$side" || fail "drop: the $side $(grep -o 'rejoins=.*' "$work/drop.$side")"
            grep -q "Waiting for .* — $((wait - down)) s" "$work/drop.$side" || fail "drop: the $side did not count the wait down to $((wait - down)) s"
        done
        ;;
    rejoin)
        # The joiner is killed at tick 1,500 and started again with the same address: its seat
        # on disk takes it back into the game, which it catches up with; its --ticks counts the
        # game's ticks, so it leaves where the first program would have. Meanwhile a third
        # machine with the game's identity but not the token asks for the seat and is refused.
        # Through the relay, each program on a port of its own toward the host.
        leaveAt=2200
        "$relay" relay $((port + 1)) "$port" --rtt 20 --jitter 4 --seconds 120 >"$work/relay.out" &
        relayPid=$!
        "$kordavel" --headless --root "$root" --realtime --host "127.0.0.1:$port" --mode two \
            --ticks 100000 --script "$work/p1.txt" --record "$work/rejoin.host.kdr" >"$work/rejoin.host" 2>&1 &
        hostPid=$!
        sleep 0.3
        # A spectator watches throughout: the hold and the catch-up must not part its game.
        "$kordavel" --headless --root "$root" --watch "127.0.0.1:$((port + 1))" \
            --record "$work/rejoin.watch.kdr" >"$work/rejoin.watch" 2>&1 &
        watchPid=$!
        { cat "$work/p2.txt"; echo "1500 dump $work/at1500.json"; } | sort -n -s -k1,1 >"$work/p2-kill.txt"
        "$kordavel" --headless --root "$root" --realtime --join "127.0.0.1:$((port + 1))" --ticks $leaveAt \
            --script "$work/p2-kill.txt" >"$work/rejoin.first" 2>&1 &
        joinPid=$!
        for _ in $(seq 600); do [ -s "$work/at1500.json" ] && break; sleep 0.05; done
        kill -9 "$joinPid"; wait "$joinPid" 2>/dev/null
        seat=$(ls "$root"/replays/seat-*"$((port + 1))".txt 2>/dev/null | head -1)
        [ -n "$seat" ] || fail "rejoin: no seat kept on disk"
        thief="$work/thief"
        mkdir -p "$thief/replays" && cp -r "$root/data" "$thief/data"
        awk '/^token=/ { c = substr($0, 7, 1); print "token=" (c == "f" ? "e" : "f") substr($0, 8); next }
             { print }' "$seat" >"$thief/replays/$(basename "$seat")"
        cmp -s "$seat" "$thief/replays/$(basename "$seat")" && fail "rejoin: the thief's token is the player's"
        "$kordavel" --headless --root "$thief" --join "127.0.0.1:$((port + 1))" >"$work/thief.out" 2>&1
        thiefCode=$?
        "$kordavel" --headless --root "$root" --realtime --join "127.0.0.1:$((port + 1))" --ticks $leaveAt \
            --script "$work/p2.txt" --record "$work/rejoin.join.kdr" >"$work/rejoin.join" 2>&1
        joinCode=$?
        wait $hostPid
        hostCode=$?
        wait $watchPid
        watchCode=$?
        kill "$relayPid" 2>/dev/null; wait "$relayPid" 2>/dev/null
        [ "$hostCode" = 0 ] && [ "$joinCode" = 0 ] && [ "$watchCode" = 0 ] || fail "rejoin: exit codes host $hostCode, joiner $joinCode, spectator $watchCode: $(tail -3 "$work/rejoin.host" "$work/rejoin.join" "$work/rejoin.watch")"
        want=$(final "$work/rejoin.host")
        [ "$(final "$work/rejoin.join")" = "$want" ] || fail "rejoin: the joiner ended on $(final "$work/rejoin.join"), the host on $want"
        [ "$(final "$work/rejoin.watch")" = "$want" ] || fail "rejoin: the spectator ended on $(final "$work/rejoin.watch"), the host on $want"
        ended=$(echo "$want" | sed 's/ticks=\([0-9]*\).*/\1/')
        [ "${ended:-0}" -ge $leaveAt ] && [ "${ended:-0}" -le $((leaveAt + 8)) ] || fail "rejoin: the game ended at tick $ended, not where the joiner's --ticks $leaveAt put it"
        for side in host join watch; do
            got=$("$kordavel" --root "$root" --replay "$work/rejoin.$side.kdr" --verify | tail -1)
            [ "$got" = "$want" ] || fail "rejoin: the $side's replay ends on $got, the game on $want"
        done
        first=$(grep -o 'first_tick=[0-9]*' "$work/rejoin.join" | cut -d= -f2)
        [ "${first:-0}" -ge 1500 ] && [ "${first:-0}" -lt $leaveAt ] || fail "rejoin: the joiner came back at tick ${first:-none}"
        grep -q 'rejoins=1 ' "$work/rejoin.host" && grep -q 'rejoins=1 ' "$work/rejoin.join" || fail "rejoin: $(grep -ho 'rejoins=[0-9]*' "$work/rejoin.host" "$work/rejoin.join" | tr '\n' ' ')"
        [ "$thiefCode" = 5 ] && grep -q "the seat you asked for is not yours" "$work/thief.out" || fail "rejoin: the thief ($thiefCode): $(cat "$work/thief.out")"
        grep -q 'seats_refused=1 ' "$work/rejoin.host" || fail "rejoin: the host $(grep -o 'seats_refused=[0-9]*' "$work/rejoin.host")"
        [ ! -e "$seat" ] || fail "rejoin: the seat outlived its game"
        echo "rejoin: $want, back at tick $first; the thief refused"
        grep -h '^net:' "$work/rejoin.host" "$work/rejoin.join" | sed "s/^/  rejoin /"
        ;;
    home)
        # Two players as they come from home: a third program with another graphics file knocks
        # first and is turned away while the host keeps waiting; the joiner has its own difficulty,
        # its own edited levels (left untouched: the game is played on the host's) and fires with
        # a gamepad button bound only in its own settings. Its Start does not start the stage;
        # the host's does.
        stranger="$work/stranger" own="$work/own"
        mkdir -p "$stranger/data" "$own/data"
        cp "$root"/data/* "$stranger/data/"; cp "$root"/data/* "$own/data/"
        printf '\x01' | dd of="$stranger/data/tank.grp" bs=1 seek=4000 conv=notrunc status=none
        printf '\x05' | dd of="$own/data/lswap.dat" bs=1 seek=$((176 + 20)) conv=notrunc status=none
        cp "$own/data/lswap.dat" "$work/own-levels"
        printf '[Options]\nGameDifficulty=2\n[JoystickForPlayer1]\nFire=9\n' >"$own/kordavel.ini"
        gameTicks=400
        printf '60 key 32 down\n62 key 32 up\n' >"$work/home1.txt"
        printf '5 key 32 down\n7 key 32 up\n40 dump %s\n' "$work/home-intro.json" >"$work/home2.txt"
        for t in 149 152; do echo "$t dump $work/home-$t.json"; done >>"$work/home2.txt"
        printf '150 joy 9 on\n152 joy 9 off\n' >>"$work/home2.txt"
        sort -n -s -k1,1 -o "$work/home2.txt" "$work/home2.txt"
        "$kordavel" --headless --root "$root" --host "127.0.0.1:$port" --mode two --ticks $gameTicks \
            --script "$work/home1.txt" --record "$work/home.host.kdr" >"$work/home.host" 2>&1 &
        hostPid=$!
        sleep 0.3
        "$kordavel" --headless --root "$stranger" --join "127.0.0.1:$port" >"$work/stranger.out" 2>&1
        strangerCode=$?
        "$kordavel" --headless --root "$own" --join "127.0.0.1:$port" --script "$work/home2.txt" \
            --record "$work/home.join.kdr" >"$work/home.join" 2>&1
        joinCode=$?
        wait $hostPid
        hostCode=$?
        check home
        [ "$strangerCode" = 5 ] || fail "home: the stranger's exit code $strangerCode"
        grep -q "your graphics file differs from the host's" "$work/stranger.out" ||
            fail "home: the stranger was not told why: $(cat "$work/stranger.out")"
        grep -q 'turned_away=[1-9]' "$work/home.host" || fail "home: the host turned nobody away"
        cmp -s "$own/data/lswap.dat" "$work/own-levels" || fail "home: the joiner's level file changed"
        grep -q '"GameState": 2,' "$work/home-intro.json" || fail "home: the joiner's Start started the stage"
        bullets=$(for t in 149 152; do
            python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["players"][1]["bullet"]["state"])' "$work/home-$t.json"
        done | tr '\n' ' ')
        for t in 149 152; do
            grep -q "\"tick\": $t," "$work/home-$t.json" || fail "home: the dump of tick $t was taken at $(grep -o '"tick": [0-9]*' "$work/home-$t.json")"
        done
        [ "$bullets" = "0 1 " ] || fail "home: player 2's bullet before and after the joiner's gamepad button: $bullets"
        ;;
    edited)
        # The host plays a stage its editor added (its level file is its own); the joiner has
        # the stock level file, where both replays play to the game's hash.
        edit="$work/edit"
        mkdir -p "$edit" && cp -r "$root/data" "$edit/data"
        printf '10 menu MLevelEditor\n20 key 39 down\n21 key 13 down\n30 key 27 down\n' >"$work/edit.txt"
        "$kordavel" --headless --root "$edit" --ticks 40 --script "$work/edit.txt" >"$work/edit.out" 2>&1 ||
            fail "edited: the editor's save: $(cat "$work/edit.out")"
        gameTicks=300
        stage=$(($(stat -c %s "$edit/data/lswap.dat") / 176 - 1))
        play edited "--host 127.0.0.1:$port --mode two --stage $stage --ticks $gameTicks" "$port" "$root" "$edit"
        check edited
        ;;
    leave)
        # The joiner leaves in the middle: both games end on the same tick and state, and both
        # replays end there too. A script line a network run cannot honour is refused.
        "$kordavel" --headless --root "$root" --host "127.0.0.1:$port" --mode duel --ticks 100000 \
            --script "$work/p1.txt" --record "$work/leave.host.kdr" >"$work/leave.host" 2>&1 &
        hostPid=$!
        sleep 0.3
        "$kordavel" --headless --root "$root" --join "127.0.0.1:$port" --ticks 250 \
            --script "$work/p2.txt" --record "$work/leave.join.kdr" >"$work/leave.join" 2>&1
        joinCode=$?
        wait $hostPid
        hostCode=$?
        want=$(final "$work/leave.host")
        [ -n "$want" ] && [ "$(final "$work/leave.join")" = "$want" ] ||
            fail "leave: the host ended on \"$want\", the joiner on \"$(final "$work/leave.join")\" (exit codes $hostCode $joinCode)"
        for side in host join; do
            got=$("$kordavel" --root "$root" --replay "$work/leave.$side.kdr" --verify | tail -1)
            [ "$got" = "$want" ] || fail "leave: the $side's replay ends on $got, the game on $want"
        done
        echo "leave: $want (exit codes $hostCode $joinCode)"
        echo "1 menu MDemo" >"$work/menu.txt"
        "$kordavel" --headless --root "$root" --host "127.0.0.1:$((port + 1))" --ticks 10 \
            --script "$work/menu.txt" >"$work/menu.out" 2>&1
        [ $? = 2 ] || fail "leave: a menu line in a network run was not refused: $(cat "$work/menu.out")"
        ;;
    watch)
        # Two spectators through the relay: one there before the joiner, watching from the
        # game's first tick, and one that comes in after tick 2,000 and starts from the host's
        # confirmed state. Both follow the game to its end on the players' hash, and so do the
        # replays they kept, the late one's from the state it came in at.
        gameTicks=4000
        "$relay" relay $((port + 1)) "$port" --rtt 20 --jitter 5 --loss 2 --seconds 300 \
            >"$work/relay.out" &
        relayPid=$!
        { cat "$work/p1.txt"; echo "2000 dump $work/watch-2000.json"; } |
            sort -n -s -k1,1 >"$work/watch-host.txt"
        "$kordavel" --headless --root "$root" --host "127.0.0.1:$port" --ticks $gameTicks \
            --script "$work/watch-host.txt" --record "$work/watch.host.kdr" >"$work/watch.host" 2>&1 &
        hostPid=$!
        sleep 0.3
        watchAt() { # NAME: a spectator through the relay, keeping its replay
            "$kordavel" --headless --root "$root" --watch "127.0.0.1:$((port + 1))" \
                --record "$work/watch.$1.kdr" >"$work/watch.$1" 2>&1
            echo $? >"$work/watch.$1.code"
        }
        watchAt early &
        earlyPid=$!
        sleep 0.3
        "$kordavel" --headless --root "$root" --join "127.0.0.1:$((port + 1))" \
            --script "$work/p2.txt" --record "$work/watch.join.kdr" >"$work/watch.join" 2>&1 &
        joinPid=$!
        for _ in $(seq 600); do [ -e "$work/watch-2000.json" ] && break; sleep 0.1; done
        watchAt late
        wait $joinPid; joinCode=$?
        wait $hostPid; hostCode=$?
        wait $earlyPid
        kill "$relayPid" 2>/dev/null; wait "$relayPid" 2>/dev/null
        check watch
        want=$(final "$work/watch.host")
        for who in early late; do
            [ "$(cat "$work/watch.$who.code")" = 0 ] && [ "$(final "$work/watch.$who")" = "$want" ] ||
                fail "watch: the $who spectator ended on \"$(final "$work/watch.$who")\" (exit $(cat "$work/watch.$who.code")), the game on $want: $(grep -v '^ticks=' "$work/watch.$who")"
            got=$("$kordavel" --root "$root" --replay "$work/watch.$who.kdr" --verify | tail -1)
            [ "$got" = "$want" ] || fail "watch: the $who spectator's replay ends on $got, the game on $want"
        done
        from=$(sed -n 's/^watch: from=\([0-9]*\).*/\1/p' "$work/watch.late")
        grep -q '^watch: from=0 ' "$work/watch.early" || fail "watch: the early spectator $(grep '^watch:' "$work/watch.early")"
        [ "${from:-0}" -ge 2000 ] || fail "watch: the late spectator came in after tick ${from:-none}, not after 2000"
        grep -q '^spectators: admitted=2 most=2 ' "$work/watch.host" || fail "watch: the host $(grep '^spectators:' "$work/watch.host")"
        echo "watch: spectators from tick 0 and from tick $from ended on $want"
        ;;
    watchers)
        # Ten spectators come and go through a relay of their own while the players run at the
        # window's pace 200 ms apart: eight are let in at a time and the others told so, one is
        # frozen until the host drops it, and none slows the players or changes their game,
        # which ends on the hash of the same game played with nobody watching.
        gameTicks=1540
        realtime=--realtime
        "$relay" relay $((port + 1)) "$port" --rtt 200 --jitter 10 --loss 2 --seconds 120 \
            >"$work/relay.out" &
        relayPid=$!
        "$relay" relay $((port + 2)) "$port" --rtt 20 --jitter 5 --seconds 120 >"$work/relay2.out" &
        relay2Pid=$!
        churn() { # SLOT: four visits of a few seconds each, through the spectators' relay
            local slot=$1 round
            for round in 1 2 3 4; do
                timeout -s TERM $((3 + (slot + round) % 3)) "$kordavel" --headless --root "$root" \
                    --realtime --watch "127.0.0.1:$((port + 2))" >"$work/churn.$slot.$round" 2>&1
                sleep 0.$((slot % 5))
            done
        }
        "$kordavel" --headless --root "$root" --realtime --host "127.0.0.1:$port" --mode two \
            --ticks $gameTicks --script "$work/p1.txt" --record "$work/watchers.host.kdr" \
            >"$work/watchers.host" 2>&1 &
        hostPid=$!
        sleep 0.3
        "$kordavel" --headless --root "$root" --realtime --join "127.0.0.1:$((port + 1))" \
            --script "$work/p2.txt" --record "$work/watchers.join.kdr" >"$work/watchers.join" 2>&1 &
        joinPid=$!
        sleep 1
        # The tenth, there first, freezes for six seconds: the host drops it rather than wait.
        "$kordavel" --headless --root "$root" --realtime --watch "127.0.0.1:$((port + 2))" \
            >"$work/churn.frozen" 2>&1 &
        frozenPid=$!
        for _ in $(seq 200); do grep -q Watching "$work/churn.frozen" && break; sleep 0.1; done
        churners=()
        for slot in 1 2 3 4 5 6 7 8 9; do churn $slot & churners+=($!); done
        sleep 1; kill -STOP $frozenPid; sleep 6; kill -CONT $frozenPid
        wait $frozenPid; frozenCode=$?
        wait $joinPid; joinCode=$?
        wait $hostPid; hostCode=$?
        wait "${churners[@]}"
        kill "$relayPid" "$relay2Pid" 2>/dev/null; wait "$relayPid" "$relay2Pid" 2>/dev/null
        check watchers
        line=$(grep '^spectators:' "$work/watchers.host")
        echo "$line" | grep -q ' most=8 ' || fail "watchers: never eight at once: $line"
        echo "$line" | grep -q ' full=[1-9]' || fail "watchers: nobody was turned away as the ninth: $line"
        echo "$line" | grep -q ' dropped=[1-9]' || fail "watchers: the frozen spectator was not dropped: $line"
        grep -l "The game already has eight spectators." "$work"/churn.* >/dev/null ||
            fail "watchers: no spectator was told the game was full"
        [ "$frozenCode" = 5 ] && grep -q "fell too far behind" "$work/churn.frozen" ||
            fail "watchers: the frozen spectator (exit $frozenCode): $(cat "$work/churn.frozen")"
        grep -q 'relay: peers=[0-9]* .* refused=0$' "$work/relay2.out" || fail "watchers: the relay $(cat "$work/relay2.out")"
        "$relay" relay $((port + 4)) $((port + 3)) --rtt 200 --jitter 10 --loss 2 --seconds 120 \
            >"$work/relay.out" &
        relayPid=$!
        play calm "--realtime --host 127.0.0.1:$((port + 3)) --mode two --ticks $gameTicks" $((port + 4))
        kill "$relayPid" 2>/dev/null; wait "$relayPid" 2>/dev/null
        [ "$(final "$work/calm.host")" = "$(final "$work/watchers.host")" ] ||
            fail "watchers: the watched game ended on $(final "$work/watchers.host"), the same game unwatched on $(final "$work/calm.host")"
        rate() { sed -n 's/^net: .*ticks_per_second=\([0-9.]*\).*/\1/p' "$1"; }
        echo "watchers: $line; the players ran $(rate "$work/watchers.host") and $(rate "$work/watchers.join") ticks a second watched, $(rate "$work/calm.host") and $(rate "$work/calm.join") unwatched"
        ;;
    refused)
        # A joiner with another difficulty plays the host's game: the host's settings decide it.
        other="$work/other"
        mkdir -p "$other"
        ln -sf "$root/data" "$other/data"
        printf '[Options]\nGameDifficulty=2\n' >"$other/kordavel.ini"
        gameTicks=100
        play refused "--host 127.0.0.1:$port --ticks 100" "$port" "$other"
        check refused
        ;;
    *)
        fail "unknown case $case"
        ;;
    esac
done
exit $((failures > 0))
