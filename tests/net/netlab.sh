#!/usr/bin/env bash
# A home network behind a router, and the internet outside it, in network namespaces made for
# one test and removed after it (root only). Nothing leaves the namespaces.
#
#   netlab.sh up TAG [upnp|natpmp|both|none]   build it (default: both) and start the router
#   netlab.sh down TAG                          remove it all
#
# Namespaces: home-TAG (192.168.77.2) and home2-TAG (192.168.77.3), two machines on one bridge
# in the router, default route via it; router-TAG (lan 192.168.77.1, wan 11.77.0.1,
# masquerading the home network, Debian's miniupnpd answering UPnP IGD and/or NAT-PMP on the
# lan side); out-TAG (11.77.0.2 and 11.77.0.3: friends on the internet). From out-TAG the home
# network is unreachable; a mapping made through the router opens 11.77.0.1:PORT. miniupnpd
# refuses to map when its outside address is private or a documentation address, hence
# 11.77.0.1, which exists only inside these namespaces. Debian's miniupnpd-nftables expects the
# tables `inet filter` and `inet nat` with the chains made below.
set -euo pipefail
cmd=${1:?usage: netlab.sh up|down TAG [upnp|natpmp|both|none]}
tag=${2:?usage: netlab.sh up|down TAG}
mode=${3:-both}
H=home-$tag H2=home2-$tag R=router-$tag O=out-$tag
run=/run/kordavel-netlab-$tag

down() {
    [ -f "$run/miniupnpd.pid" ] && kill "$(cat "$run/miniupnpd.pid")" 2>/dev/null || true
    for n in "$H" "$H2" "$R" "$O"; do ip netns del "$n" 2>/dev/null || true; done
    rm -rf "$run"
}
if [ "$cmd" = down ]; then down; exit 0; fi
[ "$cmd" = up ] || { echo "usage: netlab.sh up|down TAG [upnp|natpmp|both|none]" >&2; exit 2; }
down
mkdir -p "$run"
for n in "$H" "$H2" "$R" "$O"; do ip netns add "$n"; ip -n "$n" link set lo up; done
ip -n "$R" link add lan0 type bridge
ip link add h1 netns "$R" type veth peer name eth0 netns "$H"
ip link add h2 netns "$R" type veth peer name eth0 netns "$H2"
ip link add wan0 netns "$R" type veth peer name eth0 netns "$O"
for l in h1 h2; do ip -n "$R" link set "$l" master lan0; ip -n "$R" link set "$l" up; done
ip -n "$R" addr add 192.168.77.1/24 dev lan0; ip -n "$R" link set lan0 up
ip -n "$R" addr add 11.77.0.1/24 dev wan0; ip -n "$R" link set wan0 up
ip -n "$H" addr add 192.168.77.2/24 dev eth0
ip -n "$H2" addr add 192.168.77.3/24 dev eth0
for n in "$H" "$H2"; do
    ip -n "$n" link set eth0 up
    ip -n "$n" route add default via 192.168.77.1
done
ip -n "$O" addr add 11.77.0.2/24 dev eth0
ip -n "$O" addr add 11.77.0.3/24 dev eth0
ip -n "$O" link set eth0 up
ip netns exec "$R" sysctl -qw net.ipv4.ip_forward=1
ip netns exec "$R" nft -f - <<'NFT'
table inet filter {
  chain forward {
    type filter hook forward priority 0; policy drop;
    ct state established,related accept
    iifname "lan0" accept
    jump miniupnpd
  }
  chain miniupnpd {
  }
}
table inet nat {
  chain prerouting {
    type nat hook prerouting priority -100; policy accept;
    jump prerouting_miniupnpd
  }
  chain postrouting {
    type nat hook postrouting priority 100; policy accept;
    jump postrouting_miniupnpd
    oifname "wan0" masquerade
  }
  chain prerouting_miniupnpd {
  }
  chain postrouting_miniupnpd {
  }
}
NFT
# Addresses on the veths are usable at once, without waiting for duplicate address detection.
for n in "$H" "$H2" "$R" "$O"; do
    ip netns exec "$n" sysctl -qw net.ipv6.conf.all.accept_dad=0 2>/dev/null || true
done
[ "$mode" = none ] && exit 0
upnp=yes natpmp=yes
[ "$mode" = natpmp ] && upnp=no
[ "$mode" = upnp ] && natpmp=no
cat >"$run/miniupnpd.conf" <<CONF
ext_ifname=wan0
listening_ip=lan0
port=5000
enable_upnp=$upnp
enable_natpmp=$natpmp
secure_mode=yes
system_uptime=yes
uuid=3d3cec3a-8cf0-11e0-98ee-0000000000$(printf '%02x' $((RANDOM % 256)))
allow 1024-65535 192.168.77.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
upnp_table_name=filter
upnp_nat_table_name=nat
upnp_forward_chain=miniupnpd
upnp_nat_chain=prerouting_miniupnpd
upnp_nat_postrouting_chain=postrouting_miniupnpd
CONF
ip netns exec "$R" miniupnpd -f "$run/miniupnpd.conf" -P "$run/miniupnpd.pid"
for _ in $(seq 50); do [ -s "$run/miniupnpd.pid" ] && break; sleep 0.1; done
