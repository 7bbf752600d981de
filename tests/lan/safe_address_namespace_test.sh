#!/bin/bash
# Safe addressing over two virtual Ethernet LANs. The tool's namespace has eth0
# on LAN A (192.168.1.0/24) and eth1 on LAN B (10.214.0.0/24). The simulated
# cameras keep their factory addresses: cameras 1 to 3 (one simulator) hold
# 192.168.1.10 to .12, camera 4 on LAN A and camera 5 on LAN B hold
# 192.168.1.10 too, so cameras 1, 4 and 5 share an address and camera 5 is
# outside its LAN. A squatter on LAN A holds 192.168.1.50. A witness on each
# LAN records every frame to the camera port and every ARP packet.
#
# discover flags exactly the right cameras; set and apply refuse, sending no
# configuration frame, two cameras given one address, an address another
# camera keeps, the squatter's address (its hardware address named) and a
# malformed network; a swap is refused without a spare address and goes
# through one, and a free address is accepted after an ARP probe the witness
# sees. The tool's own addresses are refused; a camera on the subnet of a
# labelled secondary address (eth0:1) is reachable, and an address there is
# probed. All of it runs as root, and as an ordinary user with and without
# CAP_NET_RAW.
#
# usage: safe_address_namespace_test.sh PATH/vantoro PATH/vantoro-camera-sim
# exit: 0 passed, 1 failed, 77 skipped (not root, or no network namespaces)

source "$(dirname "$0")/namespace_support.sh"

command -v setpriv >/dev/null 2>&1 || skip "setpriv (util-linux) is not installed"
command -v setcap >/dev/null 2>&1 || skip "setcap (libcap2-bin) is not installed"

TAG=vs$$
LAN=${TAG}lan
LANB=${TAG}lanb
TOOL=${TAG}tool
SQUATTER=${TAG}sq
SQUATTER_IP=192.168.1.50
SQUATTER_MAC=02:00:00:00:00:50
CAMERA_PORT=2056

add_namespace "$LAN" || skip "network namespaces are not available: $(cat "$WORK/netns.err")"
add_namespace "$LANB" || fail "cannot add namespace $LANB: $(cat "$WORK/netns.err")"
for lan in "$LAN" "$LANB"; do
    ip -n "$lan" link add br0 type bridge stp_state 0 forward_delay 0 2>"$WORK/link.err" ||
        skip "bridges are not available in network namespaces: $(cat "$WORK/link.err")"
    ip -n "$lan" link set br0 up || fail "br0 up in $lan"
done

join A "$TOOL" p-tool 192.168.1.1 eth0
join B "$TOOL" p-tool 10.214.0.1 eth1
join A "${TAG}sa" p-sa 192.168.1.201 # cameras 1 to 3
join A "${TAG}sb" p-sb 192.168.1.202 # camera 4
join B "${TAG}sc" p-sc 10.214.0.203  # camera 5
join A "$SQUATTER" p-sq "$SQUATTER_IP"
ip -n "$SQUATTER" link set eth0 address "$SQUATTER_MAC" || fail "the squatter's hardware address"
join A "${TAG}wita" p-wit 192.168.1.99
join B "${TAG}witb" p-wit 10.214.0.99
# A second subnet on LAN A, on a labelled address as Debian's ifupdown makes them.
LABELLED=172.20.5
ip -n "$TOOL" addr add "$LABELLED.1/24" dev eth0 label eth0:1 || fail "the labelled address on eth0"

own_netns=$(readlink /proc/self/ns/net)
for ns in "$TOOL" "${TAG}sa" "${TAG}sb" "${TAG}sc" "$SQUATTER" "${TAG}wita" "${TAG}witb"; do
    ns_id=$(ip netns exec "$ns" readlink /proc/self/ns/net) || fail "cannot enter $ns"
    [ -n "$ns_id" ] && [ "$ns_id" != "$own_netns" ] || fail "$ns is the caller's own network namespace"
done

# --- cameras and witnesses ---------------------------------------------------

start_sim() { # K NAMESPACE COUNT FIRST_MAC
    ip netns exec "$2" "$SIM" --cameras "$3" --first-mac "$4" --bind 0.0.0.0 --state-file "$WORK/cam$1.state" \
        >"$WORK/cam$1.out" 2>"$WORK/cam$1.log" &
    PIDS+=($!)
}
start_sim 1 "${TAG}sa" 3 00:0A:0B:00:00:01
start_sim 2 "${TAG}sb" 1 00:0A:0B:00:00:04
start_sim 3 "${TAG}sc" 1 00:0A:0B:00:00:05

# Frames to the camera port: "udp COMMAND"; ARP packets: "arp OP SENDER TARGET".
cat >"$WORK/witness.py" <<'EOF'
import socket, sys, threading
out = open(sys.argv[2], 'w', buffering=1)
lock = threading.Lock()
def write(line):
    with lock:
        out.write(line + '\n')
def udp():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(('0.0.0.0', int(sys.argv[1])))
    while True:
        data, _ = s.recvfrom(65536)
        write('udp %x' % int.from_bytes(data[:4], 'little'))
arp = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0806))
threading.Thread(target=udp, daemon=True).start()
print('witness ready', flush=True)
while True:
    data = arp.recv(2048)[14:42]
    if len(data) == 28:
        write('arp %d %s %s' % (int.from_bytes(data[6:8], 'big'), socket.inet_ntoa(data[14:18]),
                                socket.inet_ntoa(data[24:28])))
EOF
start_witnesses
wait_for_simulators 3

# Three ways to run vantoro: as root, and as nobody with a copy of the binary
# that holds CAP_NET_RAW and with one that does not.
chmod 755 "$WORK"
cp "$VANTORO" "$WORK/vantoro-cap" && cp "$VANTORO" "$WORK/vantoro-plain" || fail "cannot copy vantoro"
chmod 755 "$WORK/vantoro-cap" "$WORK/vantoro-plain"
setcap cap_net_raw+ep "$WORK/vantoro-cap" 2>"$WORK/setcap.err" ||
    skip "this file system holds no file capabilities: $(cat "$WORK/setcap.err")"
MODE=root
run() { # vantoro ARGS... in the tool's namespace, as MODE says
    echo "+ [$MODE] vantoro $*" >>"$WORK/vt.log"
    local rc
    case $MODE in
    root) ip netns exec "$TOOL" env VANTORO_PASSWORD=admin "$VANTORO" "$@" >"$WORK/vt.out" 2>"$WORK/vt.err" ;;
    cap | plain)
        ip netns exec "$TOOL" setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all \
            env VANTORO_PASSWORD=admin "$WORK/vantoro-$MODE" "$@" >"$WORK/vt.out" 2>"$WORK/vt.err"
        ;;
    esac
    rc=$?
    tr -d '\r' <"$WORK/vt.out" >"$WORK/vt.lf" && mv "$WORK/vt.lf" "$WORK/vt.out"
    cat "$WORK/vt.out" "$WORK/vt.err" >>"$WORK/vt.log"
    return $rc
}

MARK_A=0
MARK_B=0
mark() {
    sleep 0.3
    MARK_A=$(wc -l <"$WORK/lanA.frames")
    MARK_B=$(wc -l <"$WORK/lanB.frames")
}
since_mark() { # LAN: its lines since the mark
    local from=$MARK_A
    [ "$1" = B ] && from=$MARK_B
    sleep 0.3
    tail -n +$((from + 1)) "$WORK/lan$1.frames"
}
udp_since_mark() { since_mark "$1" | awk '$1 == "udp" { printf "%s%s", sep, $2; sep = " " }'; }

# The first search may find the links still settling.
for _ in 1 2 3 4 5; do
    run discover --wait 1500 --format json && [ "$(grep -c '"mac"' "$WORK/vt.out")" -eq 5 ] && break
    sleep 0.5
done

# refused WHAT EXPECTED_STDERR ARGS...: exit 2, the line on stderr, and no
# configuration frame on either LAN (the search burst alone).
refused() {
    local what=$1 line=$2
    shift 2
    mark
    run "$@"
    local rc=$?
    [ $rc -eq 2 ] || fail "[$MODE] $what: exit $rc, expected 2: $(cat "$WORK/vt.out" "$WORK/vt.err")"
    grep -qF -- "$line" "$WORK/vt.err" || fail "[$MODE] $what: no line '$line' in: $(cat "$WORK/vt.err")"
    for lan in A B; do
        [ "$(udp_since_mark $lan)" = "10 60 70" ] || fail "[$MODE] $what: LAN $lan saw [$(udp_since_mark $lan)]"
    done
}
# applied WHAT ARGS...: exit 0 and the records went out on LAN A.
applied() {
    local what=$1
    shift
    mark
    run "$@" || fail "[$MODE] $what: $(cat "$WORK/vt.out" "$WORK/vt.err")"
    [ "$(udp_since_mark A)" = "10 60 70 40 50 20 80" ] || fail "[$MODE] $what: LAN A saw [$(udp_since_mark A)]"
}
# Written without the search that verifies, so the frames on the LAN are the write's alone.
set2() { run_args=(set 00:0A:0B:00:00:02 --login admin --wait 1500 --retries 0 --timeout 3000 --no-verify "$@"); }

# Everything as root, then as nobody with a copy of vantoro holding
# CAP_NET_RAW, then with one without it (the kernel's neighbour resolution).
free=70
for MODE in root cap plain; do
    # --- discover ---
    run discover --wait 1500 --retries 0 --format json || fail "discover: $(cat "$WORK/vt.err")"
    python3 - "$WORK/vt.out" <<'EOF' || fail "discover's flags: $(cat "$WORK/vt.out")"
import json, sys
cameras = {c['mac']: c for c in json.load(open(sys.argv[1]))['cameras']}
m = lambda k: '00:0a:0b:00:00:%02x' % k
expected = {1: ([4, 5], True), 2: ([], True), 3: ([], True), 4: ([1, 5], True), 5: ([1, 4], False)}
assert sorted(cameras) == [m(k) for k in expected], sorted(cameras)
for k, (conflicts, reachable) in expected.items():
    c = cameras[m(k)]
    assert c['conflicts'] == [m(x) for x in conflicts], (k, c['conflicts'])
    assert c['reachable'] is reachable, (k, c['reachable'])
EOF
    run discover --wait 1500 --retries 0 --format csv || fail "discover csv: $(cat "$WORK/vt.err")"
    grep -q '^00:0a:0b:00:00:05,.*,eth1,10.214.0.203,00:0a:0b:00:00:01 00:0a:0b:00:00:04,no,$' "$WORK/vt.out" ||
        fail "discover csv: $(cat "$WORK/vt.out")"
    grep -q '^00:0a:0b:00:00:02,.*,eth0,192.168.1.201,,yes,$' "$WORK/vt.out" || fail "discover csv: $(cat "$WORK/vt.out")"
    ip2=$(awk -F, '$1 == "00:0a:0b:00:00:02" { print $2 }' "$WORK/vt.out")
    ip3=$(awk -F, '$1 == "00:0a:0b:00:00:03" { print $2 }' "$WORK/vt.out")
    run discover --wait 1500 --retries 0 || fail "discover table: $(cat "$WORK/vt.err")"
    grep -q '^00 0A 0B 00 00 05  192.168.1.10\*!  ' "$WORK/vt.out" &&
        grep -q "^00 0A 0B 00 00 02  $ip2  " "$WORK/vt.out" &&
        grep -q '^\* 192.168.1.10 is used by 3 cameras$' "$WORK/vt.out" &&
        grep -q "^! 192.168.1.10 is outside eth1's subnets 10.214.0.0/24" "$WORK/vt.out" ||
        fail "discover table: $(cat "$WORK/vt.out")"
    # WAN mode: nothing to say about the LAN.
    run discover --wan 192.168.1.201 --wait 1500 --format json || fail "WAN discover: $(cat "$WORK/vt.err")"
    [ "$(grep -c '"reachable": null' "$WORK/vt.out")" -eq 3 ] || fail "WAN discover: $(cat "$WORK/vt.out")"
    echo "ok: [$MODE] discover flags the shared address of cameras 1, 4 and 5, and camera 5 outside LAN B"


    # --- refusals ---
    printf 'mac,ethernet_ip\n00:0a:0b:00:00:02,192.168.1.60\n00:0a:0b:00:00:03,192.168.1.60\n' >"$WORK/dup.csv"
    refused "two cameras, one address" "00 0A 0B 00 00 02  ethernet_ip 192.168.1.60: camera 00 0A 0B 00 00 03 of this plan" \
        apply "$WORK/dup.csv" --login admin --wait 1500 --retries 0
    grep -qF "00 0A 0B 00 00 03  ethernet_ip 192.168.1.60: camera 00 0A 0B 00 00 02 of this plan" "$WORK/vt.err" ||
        fail "two cameras, one address: $(cat "$WORK/vt.err")"
    set2 --ethernet-ip 192.168.1.10
    refused "an address another camera keeps" "ethernet_ip 192.168.1.10: camera 00 0A 0B 00 00 01 holds it" "${run_args[@]}"
    set2 --ethernet-ip 192.168.1.255
    refused "the broadcast address" "ethernet_ip 192.168.1.255: the broadcast address of its subnet" "${run_args[@]}"
    set2 --gateway 10.0.0.1 --dry-run
    refused "a gateway off the subnet, dry run" "gateway 10.0.0.1: the gateway is outside" "${run_args[@]}"
    echo "ok: [$MODE] two cameras given one address, an address another camera keeps and malformed networks are refused; nothing sent"

    # A swap of two addresses is a ring: refused without a spare address, and
    # done through one, one camera at a time: 2 to the spare, 3, then 2.
    printf 'mac,ethernet_ip\n00:0a:0b:00:00:02,%s\n00:0a:0b:00:00:03,%s\n' "$ip3" "$ip2" >"$WORK/swap.csv"
    refused "a swap without a spare" "take each other's addresses in a ring" \
        apply "$WORK/swap.csv" --login admin --wait 1500 --retries 0 --timeout 3000
    mark
    run apply "$WORK/swap.csv" --login admin --wait 1500 --retries 0 --timeout 3000 --parallel 1 --spare 192.168.1.90 ||
        fail "[$MODE] the swap: $(cat "$WORK/vt.out" "$WORK/vt.err")"
    grep -q '^2 cameras: 2 verified' "$WORK/vt.out" || fail "[$MODE] the swap: $(cat "$WORK/vt.out")"
    [ "$(udp_since_mark A | grep -o '40 50 20 80' | wc -l)" -eq 3 ] || fail "[$MODE] the swap: LAN A saw [$(udp_since_mark A)]"
    since_mark A | grep -q "^arp .* 192.168.1.90\$" || [ "$MODE" = plain ] ||
        fail "[$MODE] the spare address was not probed: $(since_mark A | grep arp)"
    echo "ok: [$MODE] cameras 2 and 3 swap their addresses through a spare address"


    # --- the live probe ---
        set2 --ethernet-ip "$SQUATTER_IP"
        refused "the squatter's address" "ethernet_ip $SQUATTER_IP: in use: $SQUATTER_MAC answered for it on eth0" \
            "${run_args[@]}"
        set2 --ethernet-ip "$SQUATTER_IP" --dry-run
        refused "the squatter's address, dry run" "in use: $SQUATTER_MAC" "${run_args[@]}"

        address=192.168.1.$free
        free=$((free + 1))
        set2 --ethernet-ip "$address"
        applied "a free address" "${run_args[@]}"
        [ "$MODE" = plain ] && sender=192.168.1.1 || sender=0.0.0.0
        since_mark A | grep -q "^arp 1 $sender $address\$" ||
            fail "[$MODE] no ARP request from $sender for $address on LAN A: $(since_mark A | grep arp)"
        [ -z "$(since_mark B | grep "^arp .* $address\$")" ] || fail "[$MODE] LAN B saw a probe for $address"
        if [ "$MODE" = plain ]; then
            grep -q 'could not probe' "$WORK/vt.err" && fail "[$MODE] $(cat "$WORK/vt.err")"
        else
            [ "$(since_mark A | grep -c "^arp 1 0.0.0.0 $address\$")" -ge 2 ] || fail "[$MODE] fewer than two probes"
        fi
        echo "ok: [$MODE] the squatter's address is refused naming $SQUATTER_MAC; $address goes through after an ARP request from $sender"

    # --- this machine's own addresses, and the labelled subnet ---
    for own in 192.168.1.1 "$LABELLED.1" 10.214.0.1; do
        set2 --ethernet-ip "$own" --force
        refused "the tool's own address $own" "ethernet_ip $own: an address of this machine" "${run_args[@]}"
    done
    run discover --wait 1500 --retries 0 --format json || fail "discover: $(cat "$WORK/vt.err")"
    read -r back_ip back_gateway < <(python3 -c '
import json, sys
c = [c for c in json.load(open(sys.argv[1]))["cameras"] if c["mac"] == "00:0a:0b:00:00:02"][0]
print(c["network"]["ethernet_ip"], c["network"]["gateway"])' "$WORK/vt.out")
    address=$LABELLED.$free
    free=$((free + 1))
    set2 --ethernet-ip "$address" --gateway "$LABELLED.254"
    applied "an address on the labelled subnet" "${run_args[@]}"
    [ "$MODE" = plain ] && sender=$LABELLED.1 || sender=0.0.0.0
    since_mark A | grep -q "^arp 1 $sender $address\$" ||
        fail "[$MODE] no ARP request from $sender for $address on LAN A: $(since_mark A | grep arp)"
    grep -q 'could not probe' "$WORK/vt.err" && fail "[$MODE] $(cat "$WORK/vt.err")"
    run discover --wait 1500 --retries 0 --format json || fail "discover: $(cat "$WORK/vt.err")"
    python3 - "$WORK/vt.out" <<'EOF' || fail "[$MODE] camera 2 on the labelled subnet: $(cat "$WORK/vt.out")"
import json, sys
c = [c for c in json.load(open(sys.argv[1]))['cameras'] if c['mac'] == '00:0a:0b:00:00:02'][0]
assert c['reachable'] is True, c
EOF
    set2 --ethernet-ip "$back_ip" --gateway "$back_gateway"
    applied "camera 2 back to $back_ip" "${run_args[@]}"
    echo "ok: [$MODE] this machine's addresses are refused; $address on the labelled subnet is probed, goes through and is reachable"
done

DONE=1
echo "PASS"
