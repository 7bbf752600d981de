#!/usr/bin/env bash
# Two sites driven by ansible-playbook with forks 2: each site is a network
# namespace with its own simulated cameras on 127.0.0.1 and is an inventory
# host whose modules run inside it (ansible_python_interpreter "ip netns exec
# SITE /usr/bin/python3"). Site B also has a camera on 127.0.0.2 that never
# acknowledges its general record.
# Usage: runme.sh PATH/vantoro PATH/vantoro-camera-sim   (needs root; 77 = skipped)
set -u
[ $# -eq 2 ] || { echo "usage: $0 PATH/vantoro PATH/vantoro-camera-sim" >&2; exit 2; }
VANTORO=$(realpath "$1")
SIM=$(realpath "$2")
HERE=$(cd "$(dirname "$0")" && pwd)
COLLECTIONS=$(cd "$HERE/../../../../../../.." && pwd) # the folder holding ansible_collections

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

[ -x "$VANTORO" ] || fail "not an executable: $VANTORO"
[ -x "$SIM" ] || fail "not an executable: $SIM"
[ "$(id -u)" -eq 0 ] || skip "creating network namespaces needs root"
command -v ip >/dev/null 2>&1 || skip "the 'ip' command (iproute2) is not installed"
command -v ansible-playbook >/dev/null 2>&1 || fail "ansible-playbook is missing; scripts/install-deps installs ansible-core"
# The modules speak the JSON of vantoro's writes and pass passwords with
# --secrets -. A vantoro without them cannot run this test; it is skipped, not passed.
for option in --secrets --format; do
    "$VANTORO" set --help 2>&1 | grep -q -- "$option" ||
        skip "this vantoro's set has no $option: the collection's writes need it"
done

WORK=$(mktemp -d) || fail "cannot make a temporary directory"
NAMESPACES=()
PIDS=()
DONE=0
cleanup() {
    local pid ns
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    if [ "$DONE" -ne 1 ]; then
        for log in "$WORK"/*.log; do
            [ -f "$log" ] && { echo "--- $(basename "$log")"; tail -n 40 "$log"; }
        done
    fi
    for ns in "${NAMESPACES[@]}"; do
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill "$pid" 2>/dev/null; done
        ip netns delete "$ns" 2>/dev/null || echo "warning: could not delete namespace $ns"
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Passwords that occur nowhere else, so a search for them means something.
ADMIN_PASSWORD=admin # the simulator's
OPS_PASSWORD=Ops-pw-4f7d91c2
VIEWER_PASSWORD=Viewer-pw-8e31a6b5
cat > "$WORK/secrets.yml" <<YAML
---
admin_password: $ADMIN_PASSWORD
ops_password: $OPS_PASSWORD
viewer_password: $VIEWER_PASSWORD
YAML
cp "$HERE"/list.yml "$HERE"/change.yml "$HERE"/backup.yml "$HERE"/fail.yml "$WORK/"

# Every argv vantoro is given, from either site.
cat > "$WORK/vantoro-wrapper" <<SH
#!/bin/sh
printf '%s\n' "\$*" >> "$WORK/argv.log"
exec "$VANTORO" "\$@"
SH
chmod 755 "$WORK/vantoro-wrapper"

# start_site NAME MAC_PREFIX: namespace vt-site-NAME-PID with two simulated
# cameras on 127.0.0.1; its name in NS.
start_site() {
    NS="vt-site-$1-$$"
    ip netns add "$NS" || fail "ip netns add $NS"
    NAMESPACES+=("$NS")
    ip -n "$NS" link set lo up || fail "lo up in $NS"
    ip netns exec "$NS" "$SIM" --cameras 2 --first-mac "$2:01" --bind 127.0.0.1 \
        --state-file "$WORK/$1.state" --log "$WORK/sim-$1.log" &
    PIDS+=($!)
    mkdir -p "$WORK/backup-$1" "$WORK/journal-$1"
}
start_site a 00:0a:0b:00:0a
NS_A=$NS
start_site b 00:0a:0b:00:0b
NS_B=$NS
ip netns exec "$NS_B" "$SIM" --cameras 1 --first-mac 00:0a:0b:00:0b:99 --bind 127.0.0.2 --no-ack general \
    --log "$WORK/sim-b-mute.log" &
PIDS+=($!)

site() { # name, namespace, mac prefix, gateway
    cat <<YAML
    site_$1:
      ansible_connection: local
      ansible_python_interpreter: "ip netns exec $2 /usr/bin/python3"
      mac_prefix: "^$3:"
      first_mac: "$3:01"
      second_mac: "$3:02"
      site_gateway: $4
      backup_dir: $WORK/backup-$1
      journal_dir: $WORK/journal-$1
YAML
}
{
    echo "all:"
    echo "  children:"
    echo "    sites:"
    echo "      vars:"
    echo "        mute_mac: 00:0a:0b:00:0b:99"
    echo "      hosts:"
    site a "$NS_A" 00:0a:0b:00:0a 192.168.1.254 | sed 's/^/    /'
    site b "$NS_B" 00:0a:0b:00:0b 192.168.1.253 | sed 's/^/    /'
} > "$WORK/inventory.yml"
export ANSIBLE_COLLECTIONS_PATH=$COLLECTIONS ANSIBLE_LOCAL_TEMP=$WORK/ansible-local ANSIBLE_REMOTE_TMP=$WORK/ansible-remote
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_STDOUT_CALLBACK=default ANSIBLE_HOST_KEY_CHECKING=0
export PYTHONDONTWRITEBYTECODE=1
sleep 0.3 # the simulators bind their ports

play() { # log name, playbook, extra ansible-playbook arguments...
    local log=$1 book=$2
    shift 2
    (cd "$WORK" && ansible-playbook -f 2 -vvv -i inventory.yml -e "vantoro_executable=$WORK/vantoro-wrapper" \
        "$@" "$book") > "$WORK/$log.log" 2>&1
}
recap() { # log name, host: its PLAY RECAP line
    grep -E "^site_$2 +:" "$WORK/$1.log" | tail -n 1
}
state_sums() { sha256sum "$WORK/a.state" "$WORK/b.state"; }

play list list.yml || fail "listing the sites' cameras failed"
echo "ok: each site lists only its own two cameras"

before=$(state_sums)
play check change.yml --check --diff -e expect_change=true || fail "the check run failed"
[ "$(state_sums)" = "$before" ] || fail "--check changed a simulator's state file"
grep -q "^+.*\"gateway\": \"192.168.1.254\"" "$WORK/check.log" || fail "--check --diff shows no gateway change"
echo "ok: --check --diff reports the change and leaves both state files byte-identical"

play real change.yml -e expect_change=true || fail "the real run failed"
[ "$(state_sums)" != "$before" ] || fail "the real run changed no state file"
echo "ok: the real run changes and verifies"

play again change.yml -e expect_change=false || fail "the second run failed"
for s in a b; do
    recap again "$s" | grep -q " changed=0 " || fail "the second run changed site $s: $(recap again "$s")"
done
echo "ok: a second run is changed=0"

play backup backup.yml || fail "the backup and restore failed"
for s in a b; do
    [ "$(stat -c %a "$WORK/backup-$s/first.json")" = 600 ] || fail "site $s's backup is not mode 600"
done
echo "ok: a backup, then a restore of it, is changed=0"

play fail fail.yml
status=$?
[ "$status" -ne 0 ] || fail "the playbook with a camera that never acknowledges succeeded"
recap fail a | grep -q " failed=0 " || fail "site a did not complete: $(recap fail a)"
recap fail b | grep -q " failed=1 " || fail "site b's task did not fail: $(recap fail b)"
grep -q "no acknowledgement" "$WORK/fail.log" || fail "site b's failure does not name the missing acknowledgement"
echo "ok: a camera that never acknowledges fails its site's task; the other site completes"

for password in "$OPS_PASSWORD" "$VIEWER_PASSWORD"; do
    for log in "$WORK"/list.log "$WORK"/check.log "$WORK"/real.log "$WORK"/again.log "$WORK"/backup.log \
               "$WORK"/fail.log "$WORK"/argv.log "$WORK"/journal-*/vantoro/changes.jsonl; do
        [ -f "$log" ] || fail "no $log"
        ! grep -qF -- "$password" "$log" || fail "a password is in $(basename "$log")"
    done
done
grep -q -- "--secrets=-" "$WORK/argv.log" || fail "the argv log holds no write"
echo "ok: no password in the -vvv output, the argv of vantoro or the journal"
DONE=1
