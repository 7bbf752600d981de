#!/bin/bash
# WAN-mode searches and an apply through a router, in network namespaces: the
# tool's namespace sits on subnet A with its default route through a router
# namespace, whose bridge holds subnet B with three camera namespaces behind
# it. A witness in the router records every datagram to the camera port that
# arrives from subnet A or is forwarded onto subnet B. The checks: a LAN search
# stays on subnet A; a sweep of subnet B finds each camera once, at its own
# address; an apply through the router changes only its camera's address; bad
# targets are refused before anything is sent. Every sender runs inside
# namespaces that this script creates (and deletes again, whatever happens).
#
# usage: router_namespace_test.sh PATH/vantoro PATH/vantoro-camera-sim
# exit: 0 passed, 1 failed, 77 skipped (not root, or no network namespaces)

source "$(dirname "$0")/namespace_support.sh"

# $$ keeps the names of parallel runs apart.
TAG=vr$$
TOOL=${TAG}tool
ROUTER=${TAG}rt
CAMERAS=3
SUBNET_A=10.215.0
SUBNET_B=10.216.1
SWEEP=$SUBNET_B.0/24
TARGET=2 # the camera the apply goes to
NEW_IP=10.9.8.7

camera_ns() { echo "${TAG}cam$1"; }
camera_addr() { echo "$SUBNET_B.$((10 + $1))"; }
CAMERA_MAC_PREFIX=00:0a:0b:00:01:
camera_mac() { printf '00:0A:0B:00:01:%02X' "$1"; }

# --- the networks ------------------------------------------------------------

add_namespace "$ROUTER" || skip "network namespaces are not available: $(cat "$WORK/netns.err")"
ip netns exec "$ROUTER" sysctl -qw net.ipv4.ip_forward=1 || fail "cannot turn on forwarding in $ROUTER"
# No spanning tree and no forward delay: ports forward as soon as they are up.
ip -n "$ROUTER" link add br0 type bridge stp_state 0 forward_delay 0 2>"$WORK/link.err" ||
    skip "bridges are not available in network namespaces: $(cat "$WORK/link.err")"
ip -n "$ROUTER" addr add "$SUBNET_B.1/24" dev br0 && ip -n "$ROUTER" link set br0 up ||
    fail "cannot set up br0 in $ROUTER"

# wire NAMESPACE ADDRESS PORT [BRIDGED]: a new NAMESPACE whose eth0 (ADDRESS/24)
# is a veth pair to PORT in the router, the default route through the router's
# end. With BRIDGED the router's end is a port of br0 and has no address.
wire() {
    local ns=$1 addr=$2 port=$3 gateway=$SUBNET_A.1
    add_namespace "$ns" || fail "cannot add namespace $ns: $(cat "$WORK/netns.err")"
    ip -n "$ROUTER" link add "$port" type veth peer name eth0 netns "$ns" 2>"$WORK/link.err" ||
        skip "veth pairs are not available: $(cat "$WORK/link.err")"
    if [ $# -gt 3 ]; then
        gateway=$SUBNET_B.1
        ip -n "$ROUTER" link set "$port" master br0 || fail "cannot make $port a port of br0"
    else
        ip -n "$ROUTER" addr add "$gateway/24" dev "$port" || fail "cannot give $port its address"
    fi
    ip -n "$ROUTER" link set "$port" up &&
        ip -n "$ns" addr add "$addr/24" dev eth0 &&
        ip -n "$ns" link set eth0 up &&
        ip -n "$ns" route add default via "$gateway" ||
        fail "cannot wire $ns to the router"
}

wire "$TOOL" "$SUBNET_A.2" eth0
for k in $(seq 1 $CAMERAS); do
    wire "$(camera_ns "$k")" "$(camera_addr "$k")" "p-cam$k" bridged
done

# Before anything is sent: every sender's namespace is not ours and holds only
# the links this script made.
own_netns=$(readlink /proc/self/ns/net)
for ns in "${NAMESPACES[@]}"; do
    ns_id=$(ip netns exec "$ns" readlink /proc/self/ns/net) || fail "cannot enter $ns"
    [ -n "$ns_id" ] && [ "$ns_id" != "$own_netns" ] || fail "$ns is the caller's own network namespace"
    links=$(ip -n "$ns" -o link show | awk -F': ' '{ sub(/@.*/, "", $2); print $2 }' | sort | tr '\n' ' ')
    expected="eth0 lo "
    [ "$ns" = "$ROUTER" ] && expected="br0 eth0 lo p-cam1 p-cam2 p-cam3 "
    [ "$links" = "$expected" ] || fail "$ns has other interfaces than ${expected% }: $links"
done
[ "$(ip -n "$TOOL" route show default | tr -s ' ' | sed 's/ $//')" = "default via $SUBNET_A.1 dev eth0" ] ||
    fail "the tool's default route: $(ip -n "$TOOL" route show default)"

# --- the cameras and the witness ---------------------------------------------

# Each simulator listens on every address of its namespace, so it would answer
# a broadcast that got past the router.
for k in $(seq 1 $CAMERAS); do
    ip netns exec "$(camera_ns "$k")" "$SIM" --cameras 1 --first-mac "$(camera_mac "$k")" \
        --bind 0.0.0.0 --state-file "$WORK/cam$k.state" >"$WORK/cam$k.out" 2>"$WORK/cam$k.log" &
    PIDS+=($!)
done
# The witness taps every interface of the router and writes one line per UDP
# datagram to the camera port seen on eth0 (from subnet A) or br0 (onto
# subnet B): interface, destination address, command in hex.
cat >"$WORK/witness.py" <<'EOF'
import socket, sys
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0003))
out = open(sys.argv[2], 'w', buffering=1)
print('witness ready', flush=True)
while True:
    data, (ifname, *_) = s.recvfrom(65536)
    if ifname not in ('eth0', 'br0') or len(data) < 34 or data[12:14] != b'\x08\x00' or data[23] != 17:
        continue
    udp = 14 + (data[14] & 15) * 4
    if int.from_bytes(data[udp + 2:udp + 4], 'big') == int(sys.argv[1]):
        out.write('%s %s %x\n' % (ifname, socket.inet_ntoa(data[30:34]),
                                  int.from_bytes(data[udp + 8:udp + 12], 'little')))
EOF
ip netns exec "$ROUTER" python3 "$WORK/witness.py" 2056 "$WORK/frames" >"$WORK/witness.out" 2>"$WORK/witness.log" &
PIDS+=($!)
for _ in $(seq 1 100); do
    grep -q '^witness ready' "$WORK/witness.out" && break
    sleep 0.1
done
grep -q '^witness ready' "$WORK/witness.out" || fail "the witness never became ready"

wait_for_simulators $CAMERAS

csv_mac() { camera_mac "$1" | tr 'A-F' 'a-f'; }

# mark, then frames IFNAME [ADDRESS]: the commands the witness recorded on that
# interface since the mark, to ADDRESS or to any address.
MARK=0
mark() {
    sleep 0.3 # frames on their way
    MARK=$(wc -l <"$WORK/frames")
}
frames() {
    tail -n +$((MARK + 1)) "$WORK/frames" |
        awk -v i="$1" -v a="${2:-}" '$1 == i && (a == "" || $2 == a) { printf "%s%s", sep, $3; sep = " " }'
}

# Unicast first, retried since the links may take a moment to carry traffic:
# each camera answers through the router at its own address.
sleep 0.3
for k in $(seq 1 $CAMERAS); do
    ok=0
    for _ in 1 2 3 4 5; do
        if vt -- discover --wan "$(camera_addr "$k")" --wait 1000 --format csv &&
            grep -q "^$(csv_mac "$k")," "$WORK/vt.out"; then
            ok=1
            break
        fi
    done
    [ $ok -eq 1 ] || fail "camera $k did not answer at $(camera_addr "$k"): $(cat "$WORK/vt.out")"
done
echo "ok: each camera answers a WAN search at its own address through the router"

# 1. A LAN search over every interface of the tool's namespace reaches the
# router and stops there.
mark
vt -- discover --format csv --wait 1000 --retries 0 || fail "LAN search: $(cat "$WORK/vt.out")"
! grep -q "^${CAMERA_MAC_PREFIX}" "$WORK/vt.out" || fail "a LAN search found cameras behind the router: $(cat "$WORK/vt.out")"
sleep 0.3
[ "$(frames eth0 255.255.255.255)" = "10 60 70" ] || fail "the router saw [$(frames eth0)] from the LAN search"
[ -z "$(frames br0)" ] || fail "the LAN search reached subnet B: [$(frames br0)]"
echo "ok: a LAN search reaches the router but no camera behind it"

# 2. A sweep of subnet B finds every camera once, each with its own address.
mark
vt -- discover --wan "$SWEEP" --rate 500 --wait 1000 --format json || fail "sweep: $(cat "$WORK/vt.out")"
python3 - "$WORK/vt.out" "$CAMERAS" "$SUBNET_B" <<'EOF' || fail "sweep of $SWEEP: $(cat "$WORK/vt.out")"
import json, sys
cameras = json.load(open(sys.argv[1]))['cameras']
n, subnet = int(sys.argv[2]), sys.argv[3]
found = sorted((c['mac'].upper(), c['address']) for c in cameras)
expected = [('00:0A:0B:00:01:%02X' % k, '%s.%d' % (subnet, 10 + k)) for k in range(1, n + 1)]
if found != expected:
    sys.exit(f'found {found}, expected {expected}')
EOF
sleep 0.3
for k in $(seq 1 $CAMERAS); do
    case " $(frames br0 "$(camera_addr "$k")") " in
    *" 10 60 70 "*) ;;
    *) fail "the sweep's search never reached camera $k: [$(frames br0 "$(camera_addr "$k")")]" ;;
    esac
done
echo "ok: a sweep of $SWEEP finds all $CAMERAS cameras, each once at its own address"

# 3. An apply found by a sweep goes to the address its camera answered from and
# changes that camera's ethernet_ip alone.
cat >"$WORK/check_state.py" <<'EOF'
import sys

FRAME = 1152
ETHERNET_IP = 44         # general record: address word, little-endian
REPLY_MODE = range(4, 8) # the tool writes 0 in WAN mode


def records(path):
    data = open(path, 'rb').read()
    if len(data) != 6 + 3 * FRAME:
        sys.exit(f'{path}: {len(data)} bytes, expected one camera')
    return [data[6 + i * FRAME:6 + (i + 1) * FRAME] for i in range(3)]


before, after, new_ip = sys.argv[1:]
b, a = records(before), records(after)
word = sum(int(x) << s for x, s in zip(new_ip.split('.'), (24, 16, 8, 0))).to_bytes(4, 'little')
if a[0][ETHERNET_IP:ETHERNET_IP + 4] != word:
    sys.exit(3)
for kind, bk, ak, ok in zip(('general', 'user', 'domain'), b, a,
                            (set(REPLY_MODE) | set(range(ETHERNET_IP, ETHERNET_IP + 4)),
                             set(REPLY_MODE), set(REPLY_MODE))):
    extra = sorted({i for i in range(FRAME) if bk[i] != ak[i]} - ok)
    if extra:
        sys.exit(f'{kind} record changed at offsets {extra[:16]}')
    if int.from_bytes(ak[4:8], 'little') != 0:
        sys.exit(f'{kind} record: reply_mode {ak[4:8].hex()}, expected 0 (WAN)')
EOF
for k in $(seq 1 $CAMERAS); do
    cp "$WORK/cam$k.state" "$WORK/cam$k.before" || fail "copy of state file $k"
done
mark
vt VANTORO_PASSWORD=admin -- set "$(camera_mac $TARGET)" --wan "$SWEEP" --login admin --force --ethernet-ip $NEW_IP ||
    fail "apply through the router: $(cat "$WORK/vt.out")"
# Another camera's answer can reach the tool before the target has filed the
# record, so its state file is given a moment to catch up.
for _ in $(seq 1 50); do
    python3 "$WORK/check_state.py" "$WORK/cam$TARGET.before" "$WORK/cam$TARGET.state" $NEW_IP 2>"$WORK/check.err"
    rc=$?
    [ $rc -ne 3 ] && break
    sleep 0.1
done
[ $rc -eq 0 ] || fail "camera $TARGET after the apply: $(cat "$WORK/check.err")$([ $rc -eq 3 ] && echo "ethernet_ip never became $NEW_IP")"
for k in $(seq 1 $CAMERAS); do
    [ "$k" -eq $TARGET ] && continue
    cmp -s "$WORK/cam$k.before" "$WORK/cam$k.state" || fail "the apply to camera $TARGET changed camera $k"
done
sleep 0.3
for k in $(seq 1 $CAMERAS); do
    expected=""
    [ "$k" -eq $TARGET ] && expected="40 50 20 80"
    [ "$(frames br0 "$(camera_addr "$k")" | tr ' ' '\n' | grep -v '^[167]0$' | tr '\n' ' ')" = "${expected:+$expected }" ] ||
        fail "records to camera $k: [$(frames br0 "$(camera_addr "$k")")], expected the search and [$expected]"
done
echo "ok: the apply through the router sent its records to camera $TARGET's address only and changed its ethernet_ip alone"

# An address that a host beyond the router holds answers a ping: refused,
# nothing but the search sent. A free one is said to have been pinged only.
mark
vt VANTORO_PASSWORD=admin -- set "$(camera_mac $TARGET)" --wan "$SWEEP" --login admin --ethernet-ip "$(camera_addr 1)"
rc=$?
[ $rc -eq 2 ] && grep -q "ethernet_ip $(camera_addr 1): in use: it answered a ping through the router" "$WORK/vt.out" ||
    fail "an address in use beyond the router gave $rc: $(cat "$WORK/vt.out")"
sleep 0.3
[ -z "$(frames br0 "$(camera_addr $TARGET)" | tr ' ' '\n' | grep -v '^[167]0$')" ] ||
    fail "records went out after the refusal: [$(frames br0 "$(camera_addr $TARGET)")]"
vt VANTORO_PASSWORD=admin -- set "$(camera_mac $TARGET)" --wan "$SWEEP" --login admin --force --ethernet-ip 10.9.8.9 \
    --dry-run || fail "a free address beyond the router, dry run: $(cat "$WORK/vt.out")"
grep -q "10.9.8.9 answered no ping through the router; ARP does not cross routers" "$WORK/vt.out" ||
    fail "the dry run did not say what it could not check: $(cat "$WORK/vt.out")"
echo "ok: beyond the router an address that answers a ping is refused, and a silent one is said to be pinged only"

# 4. Bad targets are refused before anything is sent.
for k in $(seq 1 $CAMERAS); do
    cp "$WORK/cam$k.state" "$WORK/cam$k.before" || fail "copy of state file $k"
done
mark
for bad in 10.0.0.0/33 10.0.0.5-10.0.0.1 host.example "" 224.0.0.251 255.255.255.255 0.0.0.0/0; do
    vt -- discover --wan "$bad" --rate 500 --wait 1000 --format json
    rc=$?
    [ $rc -eq 2 ] || fail "discover --wan $bad gave $rc: $(cat "$WORK/vt.out")"
done
sleep 0.3
[ -z "$(frames eth0)$(frames br0)" ] || fail "refused targets sent [$(frames eth0)] and forwarded [$(frames br0)]"
for k in $(seq 1 $CAMERAS); do
    cmp -s "$WORK/cam$k.before" "$WORK/cam$k.state" || fail "camera $k changed while targets were refused"
done
echo "ok: bad targets exit 2 and nothing leaves the tool's namespace"

DONE=1
echo "PASS"
