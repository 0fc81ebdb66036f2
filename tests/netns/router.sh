#!/bin/sh
# A home router between three network namespaces, for the port-mapping test:
#   lan (192.0.2.10, 2001:db8:1::10)  <->  router: nftables NAT + firewall, miniupnpd  <->  wan (198.51.100.20, 2001:db8:2::20)
# Only documentation addresses, only inside these namespaces.
#   router.sh up | miniupnpd upnp|natpmp|shared | nomapper | down      (TAG names the namespaces; default tu)
#   router.sh check TEST: the whole port-mapping test, TEST being test_portmapping
set -u
T=${TAG:-tu}
LAN=$T-lan RTR=$T-rtr WAN=$T-wan
DIR=${TMPDIR:-/tmp}/$T-router
r() { ip netns exec "$RTR" "$@"; }

case "$1" in
check)
    if [ "$(id -u)" != 0 ] || ! ip netns add "$T-probe" 2>/dev/null; then
        echo "SKIP: network namespaces are not allowed here (the port-mapping test needs root and ip netns)"
        exit 77
    fi
    ip netns del "$T-probe"
    for tool in miniupnpd nft upnpc python3; do
        command -v $tool >/dev/null || { echo "FAIL: $tool is not installed (scripts/install-deps)"; exit 1; }
    done
    "$0" up || exit 1
    trap '"$0" down' EXIT
    lan() { ip netns exec "$LAN" env -u TESSARO_PORT_MAPPING QT_QPA_PLATFORM=offscreen TESSARO_TEST_ROUTER="$DIR" "$@"; }
    "$0" miniupnpd upnp && lan "$2" upnpMapping stopAndQuit ipv6Pinhole frozenRouter || { cat "$DIR/log"; exit 1; }
    "$0" miniupnpd natpmp && lan "$2" natPmpMapping || { cat "$DIR/log"; exit 1; }
    "$0" miniupnpd shared && lan "$2" sharedAddress || { cat "$DIR/log"; exit 1; }
    "$0" nomapper && lan "$2" noGateway
    ;;
up)
    "$0" down 2>/dev/null
    ip netns add "$LAN" && ip netns add "$RTR" && ip netns add "$WAN" || exit 77
    ip link add "$T-l0" netns "$LAN" type veth peer name "$T-r0" netns "$RTR"
    ip link add "$T-w0" netns "$WAN" type veth peer name "$T-r1" netns "$RTR"
    for ns in "$LAN" "$RTR" "$WAN"; do ip -n "$ns" link set lo up; done
    ip -n "$LAN" addr add 192.0.2.10/24 dev "$T-l0"
    ip -n "$LAN" addr add 2001:db8:1::10/64 dev "$T-l0" nodad
    ip -n "$RTR" addr add 192.0.2.1/24 dev "$T-r0"
    ip -n "$RTR" addr add 2001:db8:1::1/64 dev "$T-r0" nodad
    ip -n "$RTR" addr add 198.51.100.1/24 dev "$T-r1"
    ip -n "$RTR" addr add 2001:db8:2::1/64 dev "$T-r1" nodad
    ip -n "$WAN" addr add 198.51.100.20/24 dev "$T-w0"
    ip -n "$WAN" addr add 2001:db8:2::20/64 dev "$T-w0" nodad
    ip -n "$LAN" link set "$T-l0" up; ip -n "$RTR" link set "$T-r0" up
    ip -n "$RTR" link set "$T-r1" up; ip -n "$WAN" link set "$T-w0" up
    ip -n "$RTR" route add default via 198.51.100.20
    ip -n "$RTR" -6 route add default via 2001:db8:2::20
    ip -n "$LAN" route add default via 192.0.2.1
    ip -n "$LAN" -6 route add default via 2001:db8:1::1
    # The Internet side knows the router's prefix for IPv6 (routed, filtered), not the LAN's IPv4 one (NAT).
    ip -n "$WAN" -6 route add 2001:db8:1::/64 via 2001:db8:2::1
    r sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
    # The tables and chains miniupnpd fills (as its nft_init.sh makes them), a firewall that lets
    # nothing in unasked, and masquerading towards the wan.
    r nft -f - <<NFT || exit 1
table inet filter {
    chain forward { type filter hook forward priority 0; policy drop;
        ct state established,related accept
        iifname "$T-r0" accept
        jump miniupnpd; }
    chain miniupnpd { }
    chain prerouting { type nat hook prerouting priority -100; policy accept; jump prerouting_miniupnpd; }
    chain postrouting { type nat hook postrouting priority 100; policy accept;
        oifname "$T-r1" ip saddr 192.0.2.0/24 masquerade
        jump postrouting_miniupnpd; }
    chain prerouting_miniupnpd { }
    chain postrouting_miniupnpd { }
}
NFT
    ;;
miniupnpd)
    "$0" nomapper
    mkdir -p "$DIR"
    # miniupnpd calls every documentation address private and maps nothing, unless a STUN server
    # shows it that the Internet reaches it unfiltered: a Binding responder on the wan side. With
    # "shared" it reports a carrier-grade NAT's address as the router's public one.
    ip netns exec "$WAN" python3 -c '
import sys
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("198.51.100.20", 3478))
while True:
    m, (ip, port) = s.recvfrom(2048)
    if len(m) >= 20 and m[0:2] == b"\0\1":
        s.sendto(b"\1\1\0\x0c" + m[4:20] + b"\0\1\0\x08\0\1" + port.to_bytes(2, "big") + socket.inet_aton(sys.argv[1] or ip), (ip, port))
' "$([ "$2" = shared ] && echo 100.64.0.1)" &
    echo $! > "$DIR/stun.pid"
    sleep 0.3
    upnp=yes; [ "$2" = natpmp ] && upnp=no
    cat > "$DIR/miniupnpd.conf" <<CONF
ext_ifname=$T-r1
ext_ifname6=$T-r1
listening_ip=$T-r0
http_port=45000
enable_upnp=$upnp
enable_natpmp=yes
secure_mode=yes
system_uptime=yes
lease_file=$DIR/leases
lease_file6=$DIR/leases6
upnp_table_name=filter
upnp_nat_table_name=filter
upnp_forward_chain=miniupnpd
upnp_nat_chain=prerouting_miniupnpd
upnp_nat_postrouting_chain=postrouting_miniupnpd
ext_perform_stun=yes
ext_stun_host=198.51.100.20
uuid=2d1c8d4a-0000-4000-8000-00000000c0de
allow 1024-65535 192.0.2.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
CONF
    r miniupnpd -d -v -f "$DIR/miniupnpd.conf" -P "$DIR/pid" > "$DIR/log" 2>&1 &
    # Up once STUN let it forward ports and it listens for requests.
    for _ in $(seq 100); do
        grep -qs "Port forwarding is now enabled" "$DIR/log" && grep -q "Listening for NAT-PMP" "$DIR/log" && exit 0
        sleep 0.1
    done
    cat "$DIR/log"; exit 1
    ;;
nomapper)
    for pid in "$DIR/pid" "$DIR/stun.pid"; do [ -s "$pid" ] && kill "$(cat "$pid")" 2>/dev/null; done
    sleep 0.3
    rm -f "$DIR/pid" "$DIR/stun.pid" "$DIR/leases" "$DIR/leases6"
    r nft flush chain inet filter miniupnpd 2>/dev/null
    r nft flush chain inet filter prerouting_miniupnpd 2>/dev/null
    r nft flush chain inet filter postrouting_miniupnpd 2>/dev/null
    true
    ;;
down)
    "$0" nomapper
    for ns in "$LAN" "$RTR" "$WAN"; do ip netns del "$ns" 2>/dev/null; done
    rm -rf "$DIR"
    true
    ;;
esac
