#!/bin/bash
# Discovery, apply and reset over two virtual Ethernet LANs: the tool's
# namespace has eth0 on LAN A (three single-camera simulators) and eth1 on LAN
# B (one more), each LAN a bridge in a namespace of its own joined by veth
# pairs. A witness on each LAN records every frame sent to the camera port, so
# the test sees what reached each LAN: one search burst per LAN with or without
# a default route, a camera's records only on its own LAN, and a LAN whose
# interface went down left out. The tool really broadcasts to 255.255.255.255,
# so every sender runs inside namespaces that this script creates (and deletes
# again, whatever happens); nothing is sent from the caller's own namespace.
#
# The tool is vantoro, the command line, in LAN mode unless a test names --wan.
#
# usage: lan_namespace_test.sh PATH/vantoro PATH/vantoro-camera-sim
# exit: 0 passed, 1 failed, 77 skipped (not root, or no network namespaces)

source "$(dirname "$0")/namespace_support.sh"

# $$ keeps the names of parallel runs apart.
TAG=vt$$
LAN=${TAG}lan   # LAN A: the tool's eth0, cameras 1 to 3
LANB=${TAG}lanb # LAN B: the tool's eth1, camera 4
TOOL=${TAG}tool
CAMERAS=4 # cameras 1 to 3 on LAN A, camera 4 on LAN B
SUBNET=10.213.0
SUBNET_B=10.214.0
TOOL_ADDR=$SUBNET.1
NEW_IP=10.9.8.7
NEW_IP_B=10.9.8.8
TARGET=2   # the camera the apply on LAN A goes to
TARGET_B=4 # the camera behind eth1, which never carries the default route
CAMERA_PORT=2056

camera_ns() { echo "${TAG}cam$1"; }
camera_lan() { if [ "$1" -eq 4 ]; then echo B; else echo A; fi; }
camera_addr() { if [ "$1" -eq 4 ]; then echo "$SUBNET_B.$((10 + $1))"; else echo "$SUBNET.$((10 + $1))"; fi; }
camera_mac() { printf '00:0A:0B:00:00:%02X' "$1"; }

# --- the LAN -----------------------------------------------------------------

add_namespace "$LAN" || skip "network namespaces are not available: $(cat "$WORK/netns.err")"
add_namespace "$LANB" || fail "cannot add namespace $LANB: $(cat "$WORK/netns.err")"
for lan in "$LAN" "$LANB"; do
    # No spanning tree and no forward delay: ports forward as soon as they are up.
    ip -n "$lan" link add br0 type bridge stp_state 0 forward_delay 0 2>"$WORK/link.err" ||
        skip "bridges are not available in network namespaces: $(cat "$WORK/link.err")"
    ip -n "$lan" link set br0 up || fail "br0 up in $lan"
done

join A "$TOOL" p-tool "$TOOL_ADDR" eth0 default
join B "$TOOL" p-tool "$SUBNET_B.1" eth1 none
for k in $(seq 1 $CAMERAS); do
    join "$(camera_lan "$k")" "$(camera_ns "$k")" "p-cam$k" "$(camera_addr "$k")" eth0 default
done
join A "${TAG}wita" p-wit "$SUBNET.99" eth0 default
join B "${TAG}witb" p-wit "$SUBNET_B.99" eth0 default

# Before anything is broadcast: every sender's namespace is not ours and holds
# only lo and its veth ends.
own_netns=$(readlink /proc/self/ns/net)
for ns in "$TOOL" $(for k in $(seq 1 $CAMERAS); do camera_ns "$k"; done) "${TAG}wita" "${TAG}witb"; do
    ns_id=$(ip netns exec "$ns" readlink /proc/self/ns/net) || fail "cannot enter $ns"
    [ -n "$ns_id" ] && [ "$ns_id" != "$own_netns" ] || fail "$ns is the caller's own network namespace"
    links=$(ip -n "$ns" -o link show | awk -F': ' '{ sub(/@.*/, "", $2); print $2 }' | sort | tr '\n' ' ')
    expected="eth0 lo "
    [ "$ns" = "$TOOL" ] && expected="eth0 eth1 lo "
    [ "$links" = "$expected" ] || fail "$ns has other interfaces than ${expected% }: $links"
done
[ "$(ip -n "$TOOL" route show default | tr -s ' ' | sed 's/ $//')" = "default dev eth0 scope link" ] ||
    fail "the tool's default route: $(ip -n "$TOOL" route show default)"

# --- the cameras -------------------------------------------------------------

for k in $(seq 1 $CAMERAS); do
    ip netns exec "$(camera_ns "$k")" "$SIM" --cameras 1 --first-mac "$(camera_mac "$k")" --bind 0.0.0.0 \
        --state-file "$WORK/cam$k.state" >"$WORK/cam$k.out" 2>"$WORK/cam$k.log" &
    PIDS+=($!)
done
# A witness on each LAN: records every datagram to the camera port, one line
# each: command in hex, length, and all its bytes in hex.
cat >"$WORK/witness.py" <<'EOF'
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('0.0.0.0', int(sys.argv[1])))
out = open(sys.argv[2], 'w', buffering=1)
print('witness ready', flush=True)
while True:
    data, _ = s.recvfrom(65536)
    out.write('%x %d %s\n' % (int.from_bytes(data[:4], 'little'), len(data), data.hex()))
EOF
start_witnesses

wait_for_simulators $CAMERAS

# Every search here sends one burst (--retries 0), so each LAN sees exactly
# the frames the test expects.

# csv_mac K: camera K's MAC as discover's CSV writes it.
csv_mac() { camera_mac "$1" | tr 'A-F' 'a-f'; }

# What reached each LAN since the last mark: the commands of the frames the
# witness recorded, in order ("10 60 70" is one search burst).
MARK_A=0
MARK_B=0
mark() {
    sleep 0.3 # frames on their way
    MARK_A=$(wc -l <"$WORK/lanA.frames")
    MARK_B=$(wc -l <"$WORK/lanB.frames")
}
# new_frames LAN: the commands recorded on LAN (A or B) since the mark.
new_frames() {
    local from=$MARK_A
    [ "$1" = B ] && from=$MARK_B
    sleep 0.3
    tail -n +$((from + 1)) "$WORK/lan$1.frames" | awk '{ printf "%s%s", sep, $1; sep = " " }'
}
# expect_frames LAN "COMMANDS" WHAT: exactly these frames reached LAN since the mark.
expect_frames() {
    local got
    got=$(new_frames "$1")
    [ "$got" = "$2" ] || fail "$3: LAN $1 received frames [$got], expected [$2]"
}

# Unicast first: every camera answers at its own address. Retried, since the
# links may take a moment to carry traffic.
for k in $(seq 1 $CAMERAS); do
    ok=0
    for _ in 1 2 3 4 5; do
        if vt -- discover --wan "$(camera_addr "$k")" --wait 1000 --format csv &&
            grep -q "^$(csv_mac "$k"),.*,GUD," "$WORK/vt.out"; then
            ok=1
            break
        fi
    done
    [ $ok -eq 1 ] || fail "camera $k did not answer at $(camera_addr "$k"): $(cat "$WORK/vt.out")"
done
echo "ok: each camera answers a WAN search at its own address"

# Input is checked before anything is sent: a host name is no WAN address
# (inet_addr would make it the broadcast address).
mark
vt -- discover --wan camera.example
rc=$?
[ $rc -eq 2 ] && grep -q -- '--wan wants a dotted IPv4 address' "$WORK/vt.out" ||
    fail "discover --wan camera.example gave $rc: $(cat "$WORK/vt.out")"
expect_frames A "" "refused input"
expect_frames B "" "refused input"
echo "ok: refused input sends nothing"

# --- LAN discovery -----------------------------------------------------------

# Every LAN gets the same burst, once: 1152-byte frames, reply_mode 1.
check_bursts() {
    local a b
    a=$(tail -n 3 "$WORK/lanA.frames" | md5sum)
    b=$(tail -n 3 "$WORK/lanB.frames" | md5sum)
    [ "$a" = "$b" ] || fail "$1: the bursts on LAN A and LAN B differ"
    tail -n 3 "$WORK/lanA.frames" | awk '$2 != 1152 || substr($3, 9, 8) != "01000000" { exit 1 }' ||
        fail "$1: a burst frame is not 1152 bytes with reply_mode 1"
}
# search_both WHAT: a LAN search lists all cameras, each on its own interface.
search_both() {
    mark
    vt -- discover --wait 2000 --retries 0 --format csv || fail "$1: $(cat "$WORK/vt.out")"
    for k in $(seq 1 $CAMERAS); do
        local via=eth0
        [ "$(camera_lan "$k")" = B ] && via=eth1
        grep -q "^$(csv_mac "$k"),.*,GUD,$via,$(camera_addr "$k")," "$WORK/vt.out" ||
            fail "$1: camera $k missing, or not via $via: $(cat "$WORK/vt.out")"
    done
    expect_frames A "10 60 70" "$1"
    expect_frames B "10 60 70" "$1"
    check_bursts "$1"
}

search_both "LAN search with the default route through eth0"
echo "ok: a LAN search finds all $CAMERAS cameras on both LANs, each LAN sees one burst"

ip -n "$TOOL" route del default || fail "cannot remove the default route"
[ -z "$(ip -n "$TOOL" route show default)" ] || fail "a default route is left"
search_both "LAN search without a default route"
ip -n "$TOOL" route add default dev eth0 || fail "cannot restore the default route"
echo "ok: without a default route the search still reaches both LANs, once each"

# VANTORO_INTERFACES keeps the search to the LANs it names.
mark
vt VANTORO_INTERFACES=eth1 -- discover --wait 1000 --retries 0 --format csv ||
    fail "search through eth1 only: $(cat "$WORK/vt.out")"
[ "$(grep -c ',GUD,' "$WORK/vt.out")" -eq 1 ] && grep -q "^$(csv_mac 4),.*,GUD,eth1,$(camera_addr 4)," "$WORK/vt.out" ||
    fail "search through eth1 only listed: $(cat "$WORK/vt.out")"
expect_frames A "" "search through eth1 only"
expect_frames B "10 60 70" "search through eth1 only"
echo "ok: VANTORO_INTERFACES=eth1 searches LAN B only"

# --- LAN apply to one camera -------------------------------------------------

snapshot_states() {
    for k in $(seq 1 $CAMERAS); do
        cp "$WORK/cam$k.state" "$WORK/cam$k.before" || fail "copy of state file $k"
    done
}
# apply_on_lan K NEW_IP NAME PASS HOME OTHER: vantoro set in LAN mode gives
# camera K a new address and a new user. The records go onto the camera's own
# LAN (HOME) only, each once, and so does the search that verifies them; the
# other LAN sees the first search alone.
apply_on_lan() {
    snapshot_states
    mark
    vt VANTORO_PASSWORD=admin VANTORO_NEW_PASSWORD="$4" -- set "$(camera_mac "$1")" --login admin --force \
        --ethernet-ip "$2" --add-user "$3" --wait 5000 --timeout 5000 --retries 0 ||
        fail "LAN apply to camera $1: $(cat "$WORK/vt.out")"
    grep -q '  verified$' "$WORK/vt.out" || fail "LAN apply to camera $1: $(cat "$WORK/vt.out")"
    expect_frames "$5" "10 60 70 40 50 20 80 10 60 70" "LAN apply to camera $1"
    expect_frames "$6" "10 60 70" "LAN apply to camera $1"
}
apply_on_lan $TARGET $NEW_IP lanuser lanpass A B

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
elif mode == 'address':
    before, after, new_ip = sys.argv[2:]
    b, a = records(before, open(before, 'rb').read()[:6]), records(after, open(before, 'rb').read()[:6])
    if a[0][ETHERNET_IP:ETHERNET_IP + 4] != word(new_ip):
        sys.exit(f'ethernet_ip is not {new_ip}')
    allowed = set(REPLY_MODE) | set(range(ETHERNET_IP, ETHERNET_IP + 4))
    for kind, bk, ak in zip(('general', 'user', 'domain'), b, a):
        extra = sorted(changed(bk, ak) - allowed)
        if extra:
            sys.exit(f'{kind} record changed at offsets {extra[:16]}')
elif mode == 'same':
    before, after = sys.argv[2:]
    if open(before, 'rb').read() != open(after, 'rb').read():
        sys.exit(f'{after} differs from its state before the apply')
else:
    sys.exit('unknown mode ' + mode)
EOF

# check_applied TARGET NEW_IP NAME PASS: the target stored exactly the edited
# bytes, every other camera nothing. Another camera's acknowledgement can reach
# the tool before the target has filed the record, so its state file is given
# a moment to catch up.
check_applied() {
    local target=$1 rc
    for _ in $(seq 1 100); do
        python3 "$WORK/check_state.py" target "$WORK/cam$target.before" "$WORK/cam$target.state" \
            "$(camera_mac "$target")" "$2" "$3" "$4" 2>"$WORK/check.err"
        rc=$?
        [ $rc -ne 3 ] && break
        sleep 0.1
    done
    [ $rc -eq 0 ] || fail "camera $target after the apply: $(cat "$WORK/check.err")$([ $rc -eq 3 ] && echo "ethernet_ip never became $2")"
    for k in $(seq 1 $CAMERAS); do
        [ "$k" -eq "$target" ] && continue
        python3 "$WORK/check_state.py" same "$WORK/cam$k.before" "$WORK/cam$k.state" 2>"$WORK/check.err" ||
            fail "camera $k: $(cat "$WORK/check.err")"
    done
}
check_applied $TARGET $NEW_IP lanuser lanpass
echo "ok: the LAN apply changed camera $TARGET only, and only the bytes it edits; LAN B saw no record"

# The tool sees the new address on the next search.
vt -- discover --wait 2000 --retries 0 --format csv || fail "LAN search after the apply: $(cat "$WORK/vt.out")"
grep -q "^$(csv_mac $TARGET),$NEW_IP,.*,GUD,eth0,$(camera_addr $TARGET)," "$WORK/vt.out" ||
    fail "search after the apply: $(cat "$WORK/vt.out")"
echo "ok: a new search reports ethernet_ip $NEW_IP for camera $TARGET"

# --- the camera behind the interface without the default route ---------------

apply_on_lan $TARGET_B $NEW_IP_B lanuserb lanpassb B A
check_applied $TARGET_B $NEW_IP_B lanuserb lanpassb
echo "ok: the apply to camera $TARGET_B went through eth1 only: each record once, byte-exact; LAN A saw none"

mark
resets_before=$(grep -c 'reset requested for' "$WORK/cam$TARGET_B.log")
vt VANTORO_PASSWORD=lanpassb -- reset "$(camera_mac $TARGET_B)" --login lanuserb --wait 5000 --retries 0 ||
    fail "reset: $(cat "$WORK/vt.out")"
expect_frames B "10 60 70 c0" "RESET of camera $TARGET_B"
expect_frames A "10 60 70" "RESET of camera $TARGET_B"
# The reset frame carries the camera's mac at bytes 8 to 13.
tail -n 1 "$WORK/lanB.frames" | awk -v mac="$(camera_mac $TARGET_B | tr -d ':' | tr 'A-F' 'a-f')" \
    '$2 != 1152 || substr($3, 17, 12) != mac { exit 1 }' || fail "the reset frame is not camera $TARGET_B's"
for _ in $(seq 1 20); do
    [ "$(grep -c 'reset requested for' "$WORK/cam$TARGET_B.log")" -gt "$resets_before" ] && break
    sleep 0.1
done
[ "$(grep -c 'reset requested for' "$WORK/cam$TARGET_B.log")" -eq $((resets_before + 1)) ] ||
    fail "camera $TARGET_B did not log exactly one reset: $(tail -n 5 "$WORK/cam$TARGET_B.log")"
echo "ok: RESET reached camera $TARGET_B's LAN once and LAN A not at all"

# --- one batch over both LANs ------------------------------------------------

# vantoro apply with discover's CSV, edited: a new address for camera 1 (LAN A)
# and camera 4 (LAN B). Each camera's records go onto its own LAN only.
vt -- discover --wait 2000 --retries 0 --format csv || fail "discover for the batch: $(cat "$WORK/vt.out")"
sed -e "s/^\($(csv_mac 1)\),[^,]*,/\1,10.9.8.21,/" -e "s/^\($(csv_mac 4)\),[^,]*,/\1,10.9.8.24,/" \
    "$WORK/vt.out" >"$WORK/fleet.csv"
snapshot_states
mark
vt VANTORO_PASSWORD=admin -- apply "$WORK/fleet.csv" --login admin --force --wait 5000 --timeout 5000 --retries 0 ||
    fail "LAN batch: $(cat "$WORK/vt.out")"
grep -q '^4 cameras: 2 verified, 2 unchanged, 0 not found' "$WORK/vt.out" || fail "LAN batch: $(cat "$WORK/vt.out")"
expect_frames A "10 60 70 40 50 20 80 10 60 70" "LAN batch"
expect_frames B "10 60 70 40 50 20 80 10 60 70" "LAN batch"
for k in 1 4; do
    for _ in $(seq 1 50); do
        python3 "$WORK/check_state.py" address "$WORK/cam$k.before" "$WORK/cam$k.state" "10.9.8.2$k" \
            2>"$WORK/check.err" && break
        sleep 0.1
    done
    python3 "$WORK/check_state.py" address "$WORK/cam$k.before" "$WORK/cam$k.state" "10.9.8.2$k" \
        2>"$WORK/check.err" || fail "camera $k after the batch: $(cat "$WORK/check.err")"
done
for k in 2 3; do
    python3 "$WORK/check_state.py" same "$WORK/cam$k.before" "$WORK/cam$k.state" 2>"$WORK/check.err" ||
        fail "camera $k: $(cat "$WORK/check.err")"
done
echo "ok: a batch over both LANs sent each camera's records onto its own LAN only, byte-exact"

# --- an interface that goes down during a search -----------------------------

# Two bursts 3 s apart in one run; eth1 goes down after the first. The second
# burst goes out over eth0 alone, without an error.
mark
ip netns exec "$TOOL" "$VANTORO" discover --wait 6000 --retries 1 --format csv >"$WORK/vt.out" 2>"$WORK/vt.err" &
vt_pid=$!
for _ in $(seq 1 100); do
    [ "$(($(wc -l <"$WORK/lanB.frames") - MARK_B))" -ge 3 ] && break
    sleep 0.05
done
ip -n "$TOOL" link set eth1 down || fail "eth1 down"
wait $vt_pid
rc=$?
cat "$WORK/vt.out" "$WORK/vt.err" >>"$WORK/vt.log"
[ $rc -eq 0 ] || fail "the search with eth1 going down gave $rc: $(cat "$WORK/vt.out" "$WORK/vt.err")"
[ ! -s "$WORK/vt.err" ] || fail "the search with eth1 going down reported: $(cat "$WORK/vt.err")"
expect_frames A "10 60 70 10 60 70" "search with eth1 going down"
expect_frames B "10 60 70" "search with eth1 going down"
ip -n "$TOOL" link set eth1 up || fail "eth1 up"
echo "ok: with eth1 down the search's next burst goes over eth0 alone, without an error"

DONE=1
echo "PASS"
