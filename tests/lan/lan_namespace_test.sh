#!/bin/bash
# Discovery and apply over a virtual Ethernet LAN: the tool and three
# single-camera simulators, each in its own network namespace, joined by veth
# pairs to a bridge in a further namespace. The tool really broadcasts to
# 255.255.255.255, so every sender runs inside namespaces that this script
# creates (and deletes again, whatever happens); nothing is sent from the
# caller's own namespace.
#
# usage: lan_namespace_test.sh PATH/vantoro-link-probe PATH/vantoro-camera-sim
# exit: 0 passed, 1 failed, 77 skipped (not root, or no network namespaces)

set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 PATH/vantoro-link-probe PATH/vantoro-camera-sim" >&2
    exit 2
fi
PROBE=$1
SIM=$2

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

[ -x "$PROBE" ] || fail "not an executable: $PROBE"
[ -x "$SIM" ] || fail "not an executable: $SIM"
[ "$(id -u)" -eq 0 ] || skip "creating network namespaces needs root"
command -v ip >/dev/null 2>&1 || skip "the 'ip' command (iproute2) is not installed"
command -v python3 >/dev/null 2>&1 || skip "python3 (decodes the state files) is not installed"

# $$ keeps the names of parallel runs apart.
TAG=vt$$
LAN=${TAG}lan
TOOL=${TAG}tool
CAMERAS=3
SUBNET=10.213.0
TOOL_ADDR=$SUBNET.1
NEW_IP=10.9.8.7
TARGET=2 # the camera the apply goes to

WORK=$(mktemp -d) || fail "cannot make a temporary directory"
NAMESPACES=()
SIM_PIDS=()
DONE=0

cleanup() {
    local pid ns
    for pid in "${SIM_PIDS[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${SIM_PIDS[@]}"; do
        wait "$pid" 2>/dev/null
    done
    if [ "$DONE" -ne 1 ]; then
        for log in "$WORK"/*.log; do
            [ -f "$log" ] && { echo "--- $(basename "$log")"; tail -n 20 "$log"; }
        done
    fi
    for ns in "${NAMESPACES[@]}"; do
        # Anything still running in a namespace of this test was started by it.
        for pid in $(ip netns pids "$ns" 2>/dev/null); do
            kill "$pid" 2>/dev/null
        done
        ip netns delete "$ns" 2>/dev/null || echo "warning: could not delete namespace $ns"
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

add_namespace() {
    ip netns add "$1" 2>"$WORK/netns.err" || return 1
    NAMESPACES+=("$1")
}

camera_ns() { echo "${TAG}cam$1"; }
camera_addr() { echo "$SUBNET.$((10 + $1))"; }
camera_mac() { printf '00:0A:0B:00:00:%02X' "$1"; }

# --- the LAN -----------------------------------------------------------------

add_namespace "$LAN" || skip "network namespaces are not available: $(cat "$WORK/netns.err")"
ip -n "$LAN" link set lo up || fail "lo up in $LAN"
# No spanning tree and no forward delay: ports forward as soon as they are up.
ip -n "$LAN" link add br0 type bridge stp_state 0 forward_delay 0 2>"$WORK/link.err" ||
    skip "bridges are not available in network namespaces: $(cat "$WORK/link.err")"
ip -n "$LAN" link set br0 up || fail "br0 up"

# join NAMESPACE PORT ADDRESS: a veth pair from the bridge to eth0 in NAMESPACE.
join() {
    local ns=$1 port=$2 addr=$3
    add_namespace "$ns" || fail "cannot add namespace $ns: $(cat "$WORK/netns.err")"
    ip -n "$LAN" link add "$port" type veth peer name eth0 2>"$WORK/link.err" ||
        skip "veth pairs are not available: $(cat "$WORK/link.err")"
    ip -n "$LAN" link set eth0 netns "$ns" &&
        ip -n "$LAN" link set "$port" master br0 &&
        ip -n "$LAN" link set "$port" up &&
        ip -n "$ns" link set lo up &&
        ip -n "$ns" addr add "$addr/24" dev eth0 &&
        ip -n "$ns" link set eth0 up &&
        ip -n "$ns" route add default dev eth0 ||
        fail "cannot wire $ns to the bridge"
}

join "$TOOL" p-tool "$TOOL_ADDR"
for k in $(seq 1 $CAMERAS); do
    join "$(camera_ns "$k")" "p-cam$k" "$(camera_addr "$k")"
done

# Before anything is broadcast: every sender's namespace is not ours and holds
# only lo and its veth end.
own_netns=$(readlink /proc/self/ns/net)
for ns in "$TOOL" $(for k in $(seq 1 $CAMERAS); do camera_ns "$k"; done); do
    ns_id=$(ip netns exec "$ns" readlink /proc/self/ns/net) || fail "cannot enter $ns"
    [ -n "$ns_id" ] && [ "$ns_id" != "$own_netns" ] || fail "$ns is the caller's own network namespace"
    links=$(ip -n "$ns" -o link show | awk -F': ' '{ sub(/@.*/, "", $2); print $2 }' | sort | tr '\n' ' ')
    [ "$links" = "eth0 lo " ] || fail "$ns has other interfaces than lo and eth0: $links"
done

# --- the cameras -------------------------------------------------------------

for k in $(seq 1 $CAMERAS); do
    ip netns exec "$(camera_ns "$k")" "$SIM" --cameras 1 --first-mac "$(camera_mac "$k")" --bind 0.0.0.0 \
        --state-file "$WORK/cam$k.state" >"$WORK/cam$k.out" 2>"$WORK/cam$k.log" &
    SIM_PIDS+=($!)
done
for k in $(seq 1 $CAMERAS); do
    # The simulator prints its ready line once it is bound and its state file exists.
    for _ in $(seq 1 100); do
        grep -q '^camera simulator:' "$WORK/cam$k.out" && break
        kill -0 "${SIM_PIDS[$((k - 1))]}" 2>/dev/null || fail "simulator $k exited: $(cat "$WORK/cam$k.log")"
        sleep 0.1
    done
    grep -q '^camera simulator:' "$WORK/cam$k.out" || fail "simulator $k never became ready"
    [ -s "$WORK/cam$k.state" ] || fail "simulator $k wrote no state file"
done

# probe ARGS...: the probe in the tool namespace, its output kept in probe.log.
probe() {
    echo "+ vantoro-link-probe $*" >>"$WORK/probe.log"
    ip netns exec "$TOOL" "$PROBE" "$@" >"$WORK/probe.out" 2>&1
    local rc=$?
    cat "$WORK/probe.out" >>"$WORK/probe.log"
    return $rc
}
probe_lan() {
    echo "+ VANTORO_ALLOW_BROADCAST=1 vantoro-link-probe $*" >>"$WORK/probe.log"
    ip netns exec "$TOOL" env VANTORO_ALLOW_BROADCAST=1 "$PROBE" "$@" >"$WORK/probe.out" 2>&1
    local rc=$?
    cat "$WORK/probe.out" >>"$WORK/probe.log"
    return $rc
}
mac_words() { camera_mac "$1" | tr ':' ' '; }

# Unicast first: every camera answers at its own address. Retried, since the
# links may take a moment to carry traffic.
for k in $(seq 1 $CAMERAS); do
    ok=0
    for _ in 1 2 3 4 5; do
        if probe search --wan "$(camera_addr "$k")" --expect 1; then
            ok=1
            break
        fi
    done
    [ $ok -eq 1 ] || fail "camera $k did not answer at $(camera_addr "$k"): $(cat "$WORK/probe.out")"
    grep -q "^$(mac_words "$k")  general user domain" "$WORK/probe.out" ||
        fail "WAN search of camera $k: $(cat "$WORK/probe.out")"
done
echo "ok: each camera answers a WAN search at its own address"

# Without the permission the probe refuses to broadcast.
probe search
rc=$?
[ $rc -eq 2 ] && grep -q 'refusing to broadcast' "$WORK/probe.out" ||
    fail "LAN search without VANTORO_ALLOW_BROADCAST gave $rc: $(cat "$WORK/probe.out")"
echo "ok: no broadcast without VANTORO_ALLOW_BROADCAST=1"

# --- LAN discovery -----------------------------------------------------------

probe_lan search --expect $CAMERAS --wait-ms 5000 || fail "LAN search: $(cat "$WORK/probe.out")"
for k in $(seq 1 $CAMERAS); do
    grep -q "^$(mac_words "$k")  general user domain" "$WORK/probe.out" ||
        fail "camera $k missing from the LAN search: $(cat "$WORK/probe.out")"
done
echo "ok: a LAN search finds all $CAMERAS cameras with three records each"

# --- LAN apply to one camera -------------------------------------------------

for k in $(seq 1 $CAMERAS); do
    cp "$WORK/cam$k.state" "$WORK/cam$k.before" || fail "copy of state file $k"
done
probe_lan apply --mac "$(mac_words $TARGET)" --ethernet-ip $NEW_IP --add-user lanuser lanpass --wait-ms 10000 ||
    fail "LAN apply: $(cat "$WORK/probe.out")"
grep -q '^applied to ' "$WORK/probe.out" || fail "LAN apply: $(cat "$WORK/probe.out")"

# check_state.py MODE ...: decodes state files (6-byte mac, then general, user
# and domain records of 1152 bytes). Exit 3 means camera TARGET has not stored
# the new general record yet.
cat >"$WORK/check_state.py" <<'EOF'
import sys

FRAME = 1152
ETHERNET_IP = 44          # general record: address word, little-endian
REPLY_MODE = range(4, 8)  # the tool writes 1 in LAN mode
USER_ROW_3 = range(32 + 3 * 56, 32 + 3 * 56 + 52)  # name and password of row 3


def records(path, mac):
    data = open(path, 'rb').read()
    if len(data) != 6 + 3 * FRAME:
        sys.exit(f'{path}: {len(data)} bytes, expected one camera')
    if data[:6] != mac:
        sys.exit(f'{path}: mac {data[:6].hex()}, expected {mac.hex()}')
    return [data[6 + i * FRAME:6 + (i + 1) * FRAME] for i in range(3)]


def word(text):
    a, b, c, d = (int(x) for x in text.split('.'))
    return (a << 24 | b << 16 | c << 8 | d).to_bytes(4, 'little')


def changed(before, after):
    return {i for i in range(FRAME) if before[i] != after[i]}


def text(record, offset, width):
    return record[offset:offset + width].split(b'\0')[0].decode()


mode = sys.argv[1]
if mode == 'target':
    before, after, mac, new_ip, name, password = sys.argv[2:]
    mac = bytes.fromhex(mac.replace(':', ''))
    b, a = records(before, mac), records(after, mac)
    if a[0][ETHERNET_IP:ETHERNET_IP + 4] != word(new_ip):
        sys.exit(3)
    # Every byte the tool does not write went back as the camera sent it.
    allowed = [set(REPLY_MODE) | set(range(ETHERNET_IP, ETHERNET_IP + 4)),
               set(REPLY_MODE) | set(USER_ROW_3), set(REPLY_MODE)]
    for kind, bk, ak, ok in zip(('general', 'user', 'domain'), b, a, allowed):
        extra = sorted(changed(bk, ak) - ok)
        if extra:
            sys.exit(f'{kind} record changed at offsets {extra[:16]}')
        if int.from_bytes(ak[4:8], 'little') != 1:
            sys.exit(f'{kind} record: reply_mode {ak[4:8].hex()}, expected 1 (LAN)')
    row = 32 + 3 * 56
    if text(a[1], row, 32) != name or text(a[1], row + 32, 20) != password:
        sys.exit(f'user row 3 holds {text(a[1], row, 32)!r}/{text(a[1], row + 32, 20)!r}')
elif mode == 'same':
    before, after = sys.argv[2:]
    if open(before, 'rb').read() != open(after, 'rb').read():
        sys.exit(f'{after} differs from its state before the apply')
else:
    sys.exit('unknown mode ' + mode)
EOF

# Another camera's acknowledgement can reach the tool before the target camera
# has filed the record, so its state file is given a moment to catch up.
for _ in $(seq 1 100); do
    python3 "$WORK/check_state.py" target "$WORK/cam$TARGET.before" "$WORK/cam$TARGET.state" \
        "$(camera_mac $TARGET)" $NEW_IP lanuser lanpass 2>"$WORK/check.err"
    rc=$?
    [ $rc -ne 3 ] && break
    sleep 0.1
done
[ $rc -eq 0 ] || fail "camera $TARGET after the apply: $(cat "$WORK/check.err")$([ $rc -eq 3 ] && echo "ethernet_ip never became $NEW_IP")"
for k in $(seq 1 $CAMERAS); do
    [ "$k" -eq $TARGET ] && continue
    python3 "$WORK/check_state.py" same "$WORK/cam$k.before" "$WORK/cam$k.state" 2>"$WORK/check.err" ||
        fail "camera $k: $(cat "$WORK/check.err")"
done
echo "ok: the LAN apply changed camera $TARGET only, and only the bytes it edits"

# The tool sees the new address on the next search.
probe_lan search --expect $CAMERAS --wait-ms 5000 || fail "LAN search after the apply: $(cat "$WORK/probe.out")"
grep -q "^$(mac_words $TARGET)  general user domain  ethernet_ip $NEW_IP\$" "$WORK/probe.out" ||
    fail "search after the apply: $(cat "$WORK/probe.out")"
echo "ok: a new search reports ethernet_ip $NEW_IP for camera $TARGET"

DONE=1
echo "PASS"
