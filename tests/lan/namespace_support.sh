# Sourced by the tests that build networks of namespaces: the arguments and
# what the test needs, the clean-up that deletes every namespace it made
# (whatever happens), and running vantoro in the tool's namespace.
#
# The sourcing script sets TOOL (the tool's namespace) before calling vt, and
# puts the process ids of what it starts into PIDS, simulators first.

set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 PATH/vantoro PATH/vantoro-camera-sim" >&2
    exit 2
fi
VANTORO=$1
SIM=$2

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

[ -x "$VANTORO" ] || fail "not an executable: $VANTORO"
[ -x "$SIM" ] || fail "not an executable: $SIM"
[ "$(id -u)" -eq 0 ] || skip "creating network namespaces needs root"
command -v ip >/dev/null 2>&1 || skip "the 'ip' command (iproute2) is not installed"
command -v python3 >/dev/null 2>&1 || skip "python3 (the witness and the state files) is not installed"

WORK=$(mktemp -d) || fail "cannot make a temporary directory"
NAMESPACES=()
PIDS=()
DONE=0 # set to 1 at the end: the logs are shown only when a test failed

cleanup() {
    local pid ns log
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${PIDS[@]}"; do
        wait "$pid" 2>/dev/null
    done
    if [ "$DONE" -ne 1 ]; then
        for log in "$WORK"/*.log "$WORK/frames"; do
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

# add_namespace NAME: a new namespace, deleted again at the end, with lo up.
add_namespace() {
    ip netns add "$1" 2>"$WORK/netns.err" || return 1
    NAMESPACES+=("$1")
    ip -n "$1" link set lo up || fail "lo up in $1"
}

# join LAN NAMESPACE PORT ADDRESS [IFNAME [ROUTE]]: a veth pair from the bridge
# of LAN (A or B: the namespaces $LAN and $LANB) to IFNAME (eth0) in NAMESPACE,
# which is made unless it exists; with ROUTE "default" the default route goes
# through it (none by default).
join() {
    local lan_ns=$LAN ns=$2 port=$3 addr=$4 ifname=${5:-eth0} route=${6:-none}
    [ "$1" = B ] && lan_ns=$LANB
    if ! ip netns list | grep -qw "$ns"; then
        add_namespace "$ns" || fail "cannot add namespace $ns: $(cat "$WORK/netns.err")"
    fi
    ip -n "$lan_ns" link add "$port" type veth peer name "$ifname" 2>"$WORK/link.err" ||
        skip "veth pairs are not available: $(cat "$WORK/link.err")"
    ip -n "$lan_ns" link set "$ifname" netns "$ns" &&
        ip -n "$lan_ns" link set "$port" master br0 &&
        ip -n "$lan_ns" link set "$port" up &&
        ip -n "$ns" addr add "$addr/24" dev "$ifname" &&
        ip -n "$ns" link set "$ifname" up ||
        fail "cannot wire $ns to the bridge of LAN $1"
    if [ "$route" = default ]; then
        ip -n "$ns" route add default dev "$ifname" || fail "default route in $ns"
    fi
}

# start_witnesses: $WORK/witness.py listening on the camera port in the
# witness namespace of each LAN (${TAG}wita, ${TAG}witb), its frames into
# $WORK/lanA.frames and lanB.frames; returns once both said they are ready.
start_witnesses() {
    local lan
    for lan in A B; do
        ip netns exec "${TAG}wit$(echo $lan | tr AB ab)" python3 "$WORK/witness.py" $CAMERA_PORT \
            "$WORK/lan$lan.frames" >"$WORK/wit$lan.out" 2>"$WORK/wit$lan.log" &
        PIDS+=($!)
    done
    for lan in A B; do
        for _ in $(seq 1 100); do
            grep -qs '^witness ready' "$WORK/wit$lan.out" && break
            sleep 0.1
        done
        grep -q '^witness ready' "$WORK/wit$lan.out" || fail "the witness on LAN $lan never became ready"
    done
}

# wait_for_simulators N: simulators 1 to N (PIDS 0 to N-1) print their ready
# line once they are bound and their state file $WORK/camK.state exists.
wait_for_simulators() {
    local k
    for k in $(seq 1 "$1"); do
        for _ in $(seq 1 100); do
            grep -q '^camera simulator:' "$WORK/cam$k.out" && break
            kill -0 "${PIDS[$((k - 1))]}" 2>/dev/null || fail "simulator $k exited: $(cat "$WORK/cam$k.log")"
            sleep 0.1
        done
        grep -q '^camera simulator:' "$WORK/cam$k.out" || fail "simulator $k never became ready"
        [ -s "$WORK/cam$k.state" ] || fail "simulator $k wrote no state file"
    done
}

# vt [NAME=VALUE...] -- ARGS...: vantoro in the tool namespace, with those
# environment entries (the passwords) and no VANTORO_INTERFACES of the
# caller's; its output, line ends as LF, in vt.out and kept in vt.log.
vt() {
    local env=()
    while [ "$1" != -- ]; do
        env+=("$1")
        shift
    done
    shift
    echo "+ vantoro $*" >>"$WORK/vt.log"
    ip netns exec "$TOOL" env -u VANTORO_INTERFACES "${env[@]}" "$VANTORO" "$@" >"$WORK/vt.raw" 2>&1
    local rc=$?
    tr -d '\r' <"$WORK/vt.raw" >"$WORK/vt.out"
    cat "$WORK/vt.out" >>"$WORK/vt.log"
    return $rc
}
