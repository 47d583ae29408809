#!/usr/bin/env bash
# Network games as the internet plays them, in network namespaces this test makes and removes
# (netlab.sh): a home network behind a router that masquerades it and runs miniupnpd, and
# friends outside. Every packet stays inside the namespaces. Needs root; exits 77 (skipped)
# where namespaces cannot be made.
#
#   upnp, natpmp  the host asks the router; a friend outside joins with the code shown and both
#                 end on one hash; the mapping is gone once the host has left
#   none          no router service: the host says why, the friend cannot reach it
#   silent        a router that never answers holds up neither the host nor its game
#   code          a wrong code from one outside address is refused, and after a few the host
#                 hears that address no more; the right player from another address plays
#   lease         a short lease is renewed before it lapses, by UPnP and by NAT-PMP
#   dialog        the window's Network dialog lists the games nearby, greys another build's
#   discovery     a game is found from the same network and not from outside; a flood of
#                 questions neither slows the game nor grows the host's memory
#
# usage: router_test.sh KORDAVEL ROOT CASE...
set -uo pipefail
kordavel=$1 root=$(cd "$2" && pwd)
unit="$root/tests/net/net_tests" forms="$root/tests/app/app_dialog_tests"
shift 2
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" != 0 ]; then echo "router_test: skipped, needs root for network namespaces"; exit 77; fi
for tool in ip nft miniupnpd python3; do
    command -v "$tool" >/dev/null || { echo "router_test: skipped, $tool is missing"; exit 77; }
done
tag=k$$
if ! ip netns add "probe-$tag" 2>/dev/null; then
    echo "router_test: skipped, network namespaces cannot be made here"
    exit 77
fi
ip netns del "probe-$tag"
work=$(mktemp -d)
trap '"$here/netlab.sh" down "$tag"; rm -rf "$work"' EXIT
mkdir "$work/root" && cp -r "$root/data" "$work/root/data"
root="$work/root"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ns() { local ns=$1-$tag; shift; ip netns exec "$ns" "$@"; }
port=7510
mappings() {
    ns router nft list chain inet nat prerouting_miniupnpd | grep -c "dport ${1:-$port} " || true
}

# host NAME [ARGS...]: a host in the home namespace, in the background; waits until it says
# how it can be reached.
host() {
    local name=$1
    shift
    # ip execs the program, so that $! is the host itself.
    ip netns exec "home-$tag" "$kordavel" --headless --root "$root" --host "$port" "$@" \
        >"$work/$name.host" 2>"$work/$name.host.err" &
    hostPid=$!
    for _ in $(seq 100); do
        grep -q "Friends join\|not opened\|Players on your network" "$work/$name.host.err" && break
        sleep 0.1
    done
    code=$(sed -n 's/^code=//p' "$work/$name.host")
}
final() { grep '^ticks=' "$1" | tail -1; }

played() {
    local name=$1
    [ "$joinCode" = 0 ] || fail "$name: the joiner's exit code $joinCode: $(tail -3 "$work/$name.join")"
    [ "$hostCode" = 0 ] || fail "$name: the host's exit code $hostCode: $(tail -3 "$work/$name.host.err")"
    local want
    want=$(final "$work/$name.host")
    [ -n "$want" ] && [ "$(final "$work/$name.join")" = "$want" ] ||
        fail "$name: the host ended on \"$want\", the joiner on \"$(final "$work/$name.join")\""
    echo "$name: $want"
}

for case in "$@"; do
    case $case in
    upnp | natpmp)
        "$here/netlab.sh" up "$tag" "$([ "$case" = upnp ] && echo both || echo natpmp)"
        started=$(date +%s%N)
        host "$case" --open-router --ticks 600
        took=$((($(date +%s%N) - started) / 1000000))
        method=$([ "$case" = upnp ] && echo UPnP || echo NAT-PMP)
        grep -q "Friends join at 11.77.0.1:$port with the code $code (the router opened it by $method)" \
            "$work/$case.host.err" || fail "$case: the host says: $(cat "$work/$case.host.err")"
        [ "$took" -lt 5000 ] || fail "$case: the router's answer took $took ms"
        [ "$(mappings)" = 1 ] || fail "$case: the router holds no mapping for port $port"
        ns out "$kordavel" --headless --root "$root" --join "11.77.0.1:$port" --code "$code" \
            >"$work/$case.join" 2>&1
        joinCode=$?
        wait "$hostPid"
        hostCode=$?
        played "$case"
        [ "$(mappings)" = 0 ] || fail "$case: the mapping outlived the host"
        echo "  the router answered in $took ms"
        ;;
    silent)
        # A router that never answers (its UPnP and NAT-PMP ports drop everything): the host
        # says so within seconds, and a game at home is played meanwhile.
        "$here/netlab.sh" up "$tag" both
        ns router nft -f - <<'NFT'
table inet deaf {
  chain input {
    type filter hook input priority -10; policy accept;
    udp dport { 1900, 5351 } drop
  }
}
NFT
        started=$(date +%s%N)
        ip netns exec "home-$tag" "$kordavel" --headless --root "$root" --host "$port" \
            --open-router --realtime --ticks 500 >"$work/silent.host" 2>"$work/silent.host.err" &
        hostPid=$!
        sleep 0.3
        ns home2 "$kordavel" --headless --root "$root" --realtime --join "192.168.77.2:$port" \
            >"$work/silent.join" 2>&1
        joinCode=$?
        wait "$hostPid"
        hostCode=$?
        played silent
        grep -q "The router was not opened: no router answered to UPnP or NAT-PMP" "$work/silent.host.err" ||
            fail "silent: the host says: $(cat "$work/silent.host.err")"
        # The game began while the router was still being asked, and ran on meanwhile.
        began=$(grep -n "agreeing on the game" "$work/silent.host.err" | head -1 | cut -d: -f1)
        told=$(grep -n "The router was not opened" "$work/silent.host.err" | head -1 | cut -d: -f1)
        [ -n "$began" ] && [ -n "$told" ] && [ "$began" -lt "$told" ] ||
            fail "silent: the game waited for the router: $(cat "$work/silent.host.err")"
        ;;
    none)
        # No service on the router: the host says so within seconds and still waits for
        # players at home; the friend outside cannot reach it, so the NAT is real.
        "$here/netlab.sh" up "$tag" none
        host none --open-router --ticks 600
        grep -q "The router was not opened: no router answered to UPnP or NAT-PMP. Players on your network join at 192.168.77.2:$port" \
            "$work/none.host.err" || fail "none: the host says: $(cat "$work/none.host.err")"
        ns out "$kordavel" --headless --root "$root" --join "11.77.0.1:$port" --code "$code" \
            >"$work/none.join" 2>&1
        joinCode=$?
        [ "$joinCode" = 5 ] && grep -q "No answer from 11.77.0.1:$port" "$work/none.join" ||
            fail "none: the friend outside: exit $joinCode, $(tail -2 "$work/none.join")"
        # A player at home joins without a code.
        ns home2 "$kordavel" --headless --root "$root" --join "192.168.77.2:$port" \
            >"$work/none-home.join" 2>&1
        joinCode=$?
        wait "$hostPid"
        hostCode=$?
        cp "$work/none-home.join" "$work/none.join"
        played none
        ;;
    code)
        # From one outside address: no code, then wrong codes; after a few the host does not
        # hear that address at all, even with the right code. The seat stays free, and the
        # right player from the other outside address takes it.
        "$here/netlab.sh" up "$tag" both
        host code --open-router --ticks 600
        wrong=22222-22222
        [ "$code" != "$wrong" ] || wrong=33333-33333
        for attempt in none "$wrong" "$wrong"; do
            if [ "$attempt" = none ]; then given=(); else given=(--code "$attempt"); fi
            ns out "$kordavel" --headless --root "$root" --join "11.77.0.1:$port" "${given[@]}" \
                >"$work/code.wrong" 2>&1
            joinCode=$?
            [ "$joinCode" = 5 ] && grep -q "the invite code is missing or wrong" "$work/code.wrong" ||
                fail "code: a join with code $attempt: exit $joinCode, $(tail -2 "$work/code.wrong")"
        done
        started=$(date +%s)
        ns out "$kordavel" --headless --root "$root" --join "11.77.0.1:$port" --code "$code" \
            >"$work/code.shunned" 2>&1
        joinCode=$?
        [ "$joinCode" = 5 ] && grep -q "No answer from 11.77.0.1:$port" "$work/code.shunned" ||
            fail "code: the shunned address was heard: exit $joinCode, $(tail -2 "$work/code.shunned")"
        kill -0 "$hostPid" 2>/dev/null || fail "code: the host stopped waiting"
        # The friend's machine speaks from 11.77.0.3.
        ns out ip route replace 11.77.0.0/24 dev eth0 proto kernel scope link src 11.77.0.3
        ns out "$kordavel" --headless --root "$root" --join "11.77.0.1:$port code $code" \
            >"$work/code.join" 2>&1
        joinCode=$?
        wait "$hostPid"
        hostCode=$?
        played code
        grep -q "wrong_codes=3 " "$work/code.host" || fail "code: the host counted $(grep -o 'wrong_codes=[0-9]*' "$work/code.host")"
        grep -q "11.77.0.3:[0-9]*: The game is over" "$work/code.host.err" ||
            fail "code: the host played with $(grep -o '11.77.0.[0-9]*:[0-9]*: The game is over' "$work/code.host.err")"
        ;;
    lease)
        # A mapping of a four-second lease, by each method: renewed, so that the router still
        # holds it three leases later, and gone once closed.
        [ -x "$unit" ] || { fail "lease: no $unit"; continue; }
        for method in UPnP NAT-PMP; do
            before=$failures
            "$here/netlab.sh" up "$tag" "$([ "$method" = UPnP ] && echo upnp || echo natpmp)"
            KORDAVEL_NETLAB=$method ip netns exec "home-$tag" "$unit" \
                --gtest_filter='PortOpener.*' >"$work/lease.out" 2>&1 &
            unitPid=$!
            for _ in $(seq 100); do grep -q '^mapped' "$work/lease.out" && break; sleep 0.1; done
            sleep 9
            [ "$(mappings 7520)" = 1 ] || fail "lease: by $method the mapping lapsed"
            wait "$unitPid" || fail "lease: by $method: $(cat "$work/lease.out")"
            [ "$(mappings 7520)" = 0 ] || fail "lease: by $method the mapping outlived its opener"
            grep -q '^\[  PASSED  \] 1 test' "$work/lease.out" || fail "lease: by $method: $(tail -5 "$work/lease.out")"
            [ "$failures" = "$before" ] && echo "lease: renewed and removed by $method"
            "$here/netlab.sh" down "$tag"
        done
        ;;
    dialog)
        # The window's Network dialog on the neighbour's machine lists the two games hosted at
        # home, one of them with another graphics file, and joins the other on a double-click.
        [ -x "$forms" ] || { fail "dialog: no $forms"; continue; }
        before=$failures
        "$here/netlab.sh" up "$tag" none
        other="$work/other" && mkdir -p "$other" && cp -r "$root/data" "$other/data"
        printf '\x01' | dd of="$other/data/tank.grp" bs=1 seek=4000 conv=notrunc status=none
        host dialog --ticks 100 --mode duel --stage 4
        first=$hostPid
        ip netns exec "home-$tag" "$kordavel" --headless --root "$other" --host $((port + 1)) \
            --ticks 100 >"$work/dialog-other.host" 2>&1 &
        second=$!
        sleep 0.5
        KORDAVEL_NETLAB=1 QT_QPA_PLATFORM=offscreen \
            LSAN_OPTIONS=suppressions=$here/../app/lsan.supp ip netns exec "home2-$tag" "$forms" \
            --gtest_filter='Dialogs.TheNetworkDialogListsTheGamesNearby*' >"$work/dialog.out" 2>&1 ||
            fail "dialog: $(grep -v propagateSizeHints "$work/dialog.out" | tail -15)"
        grep -q '^\[  PASSED  \] 1 test' "$work/dialog.out" || fail "dialog: the test did not run"
        kill "$first" "$second"
        wait "$first" "$second"
        [ "$failures" = "$before" ] && echo "dialog: listed both, joined on a double-click"
        ;;
    discovery)
        # From the same network the game is found; from outside, across the router, it is not.
        "$here/netlab.sh" up "$tag" none
        host discovery --ticks 770 --realtime --mode duel --stage 3
        ns home2 "$kordavel" --root "$root" --find >"$work/found" 2>&1
        grep -q "^192.168.77.2:$port  \"[^\"]*\"  duel, stage 3, seat free  " "$work/found" ||
            fail "discovery: from the same network --find printed: $(cat "$work/found")"
        # The same by IPv6 alone (the link-local all-nodes multicast): the neighbour's IPv4
        # questions are dropped on their way out.
        ns home2 nft -f - <<'NFT'
table inet quiet4 {
  chain output {
    type filter hook output priority 0; policy accept;
    meta nfproto ipv4 udp dport 7509 drop
  }
}
NFT
        # A fresh namespace's link-local addresses stay tentative for a moment, and the host
        # looks at its interfaces again every few seconds: ask as the dialog does, more than once.
        for _ in 1 2 3 4; do
            ns home2 "$kordavel" --root "$root" --find >"$work/found6" 2>&1
            grep -q "^192.168.77.2:$port  " "$work/found6" && break
            sleep 1
        done
        grep -q "^192.168.77.2:$port  " "$work/found6" ||
            fail "discovery: by IPv6 alone --find printed: $(cat "$work/found6")"
        ns home2 nft delete table inet quiet4
        ns out "$kordavel" --root "$root" --find >"$work/outside" 2>&1
        [ ! -s "$work/outside" ] || fail "discovery: from outside --find printed: $(cat "$work/outside")"
        # A flood of questions while the game plays at the window's pace: the game keeps its
        # pace and the host its memory; only a few are answered.
        ns home2 "$kordavel" --headless --root "$root" --realtime --join "192.168.77.2:$port" \
            >"$work/discovery.join" 2>&1 &
        joinPid=$!
        sleep 2
        rss() { awk '/^VmRSS/ { print $2 }' "/proc/$hostPid/status"; }
        before=$(rss)
        ns home2 python3 -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
q = b"KDVF\x01Q"
for i in range(100000):
    try:
        s.sendto(q, ("192.168.77.2", 7509))
    except BlockingIOError:
        pass
' || fail "discovery: the flood could not be sent"
        after=$(rss)
        wait "$joinPid"
        joinCode=$?
        wait "$hostPid"
        hostCode=$?
        played discovery
        rate=$(sed -n 's/.*ticks_per_second=\([0-9.]*\).*/\1/p' "$work/discovery.host")
        awk -v r="$rate" 'BEGIN { exit !(r >= 74) }' || fail "discovery: the flooded host ran $rate ticks a second"
        answers=$(grep '^discovery:' "$work/discovery.host")
        answered=$(echo "$answers" | sed 's/.*answered=\([0-9]*\).*/\1/')
        ignored=$(echo "$answers" | sed 's/.*ignored=\([0-9]*\).*/\1/')
        [ "${answered:-0}" -ge 1 ] && [ "${answered:-0}" -le 200 ] && [ "${ignored:-0}" -ge 50000 ] ||
            fail "discovery: $answers"
        [ $((after - before)) -le 1024 ] || fail "discovery: the host grew from $before to $after kB under the flood"
        echo "  flooded: $rate ticks a second, $answers, memory $before -> $after kB"
        ;;
    *)
        fail "unknown case $case"
        ;;
    esac
    "$here/netlab.sh" down "$tag"
done
exit $((failures > 0))
