#!/usr/bin/env bash
# Checks the Debian package as a user would get it. One step per run, so each
# shows in ctest's summary; "prepare" makes the package from the current build
# and unpacks it, the other steps use that.
#
#   package_test.sh STEP BUILD_DIR SOURCE_DIR VERSION CLOSE_SHEET_LIB
#
# STEP: prepare | lint | contents | config | sim | capability. Every tool it needs is
# installed by scripts/install-deps; a missing one fails the step.
set -uo pipefail

step=$1 build=$2 source=$3 version=$4 close_sheet=$5
work=$build/tests/package/work
root=$work/root
deb=$work/out/vantoro-config_${version}_$(dpkg --print-architecture).deb

fail() { echo "FAIL: $*" >&2; exit 1; }
need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || fail "$tool is missing; scripts/install-deps installs it"
  done
}

prepare() {
  need cpack dpkg-deb dpkg-shlibdeps
  rm -rf "$work" && mkdir -p "$work/out" || fail "cannot make $work"
  cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack could not make the package"; }
  [[ -f $deb ]] || fail "cpack wrote no $(basename "$deb")"
  dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
  echo "made and unpacked $(basename "$deb")"
}

lint() {
  need lintian desktop-file-validate appstreamcli
  local bad=0
  desktop-file-validate "$root/usr/share/applications/vantoro-config.desktop" | grep -v ': hint: ' | grep . && bad=1
  appstreamcli validate --no-net "$root/usr/share/metainfo/org.vantoro.config.metainfo.xml" || bad=1
  # Errors and warnings fail; the informational tags are listed for reading.
  local tags
  tags=$(lintian -I "$deb" 2>&1 | grep -v '^running with root privileges')
  echo "$tags"
  grep -qE '^[EW]: ' <<<"$tags" && bad=1
  ((bad == 0)) || fail "the package data or the package has errors or warnings"
  echo "desktop entry, AppStream data and lintian: no errors, no warnings"
}

contents() {
  need dpkg-deb file gzip
  local listing expected actual
  listing=$(dpkg-deb -c "$deb") || fail "dpkg-deb -c failed"
  # Columns: mode owner size date time ./path
  actual=$(awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $1, $2, $6 }' <<<"$listing" | sort)
  local cli_wanted=0
  [[ -f $root/usr/bin/vantoro ]] && cli_wanted=1
  expected=$(grep -v '^#' "$source/tests/package/expected-files.txt" |
    awk -v cli=$cli_wanted '/^cli / { if (cli) print $2, $3, $4; next } NF { print }' | sort)
  if [[ $actual != "$expected" ]]; then
    diff <(echo "$expected") <(echo "$actual") | sed 's/^/  /'
    fail "the package's files differ from tests/package/expected-files.txt (< expected, > packaged)"
  fi
  local odd_dirs
  odd_dirs=$(awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root")' <<<"$listing")
  [[ -z $odd_dirs ]] || fail "directories with other modes or owners: $odd_dirs"

  # One version everywhere.
  local got
  got=$("$root/usr/bin/vantoro-camera-sim" --version) || fail "vantoro-camera-sim --version failed"
  [[ $got == "vantoro-camera-sim $version" ]] || fail "vantoro-camera-sim --version says '$got'"
  if ((cli_wanted)); then
    got=$("$root/usr/bin/vantoro" --version) || fail "vantoro --version failed"
    [[ $got == *"$version"* ]] || fail "vantoro --version says '$got'"
  fi
  [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version is not $version"
  got=$(sed -n 's/^version: "\(.*\)"$/\1/p' "$root/usr/share/ansible/collections/ansible_collections/vantoro/cameras/galaxy.yml")
  [[ $got == "$version" ]] || fail "the Ansible collection's galaxy.yml says version '$got'"
  got=$(gzip -dc "$root/usr/share/doc/vantoro-config/changelog.gz" | head -n 1)
  [[ $got == "vantoro-config ($version) "* ]] || fail "the changelog's latest entry is '$got', not $version"
  grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/org.vantoro.config.metainfo.xml" ||
    fail "the AppStream data carries no release $version"
  # Apache-2.0 in the source, the copyright file and the AppStream data; no
  # web address that the project does not own.
  local copyright=$root/usr/share/doc/vantoro-config/copyright
  local metainfo=$root/usr/share/metainfo/org.vantoro.config.metainfo.xml
  cmp -s "$source/LICENSE" /usr/share/common-licenses/Apache-2.0 || fail "LICENSE is not the Apache License 2.0"
  grep -qx 'License: Apache-2.0' "$copyright" || fail "the copyright file does not say License: Apache-2.0"
  grep -q '<project_license>Apache-2.0</project_license>' "$metainfo" ||
    fail "the AppStream project_license is not Apache-2.0"
  got=$(grep -hoE 'https?://[^ <>"]*' "$copyright" "$metainfo" |
    grep -vxE 'https://www\.debian\.org/doc/packaging-manuals/copyright-format/1\.0/|http://www\.apache\.org/licenses/LICENSE-2\.0')
  [[ -z $got ]] || fail "web addresses in the copyright file or the AppStream data: $got"
  local page
  for page in "$root"/usr/share/man/man1/*.1.gz; do
    file "$page" | grep -q 'max compression' || fail "$(basename "$page") is not gzipped -9"
    gzip -dc "$page" | grep -q "Vantoro Config $version" || fail "$(basename "$page") does not carry $version"
  done
  # Shared-library dependencies come from dpkg-shlibdeps; the platform plugins are added.
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  [[ $depends == *libqt6widgets6* && $depends == *qt6-qpa-plugins* ]] ||
    fail "Depends lacks Qt or its platform plugins: $depends"
  echo "$(wc -l <<<"$actual") files as expected; version $version everywhere; Apache-2.0; Depends: $depends"
}

config() {
  need timeout
  local log=$work/config.log rc
  # The packaged program on the offscreen platform; the helper closes its sheet.
  timeout 60 env QT_QPA_PLATFORM=offscreen LD_PRELOAD="$close_sheet" \
    "$root/usr/bin/vantoro-config" >"$log" 2>&1
  rc=$?
  cat "$log"
  grep -q 'close-sheet: closing "Vantoro Config"' "$log" || fail "the sheet never came up (exit status $rc)"
  ((rc == 0)) || fail "vantoro-config exited $rc after its sheet was closed"
  echo "vantoro-config showed its sheet and exited 0 when it was closed"
}

sim() {
  need python3 timeout
  local ready=$work/sim.ready cameras=3 sim_pid tool_port camera_port
  # The simulator answers to a fixed port at the sender's address: pick a free one.
  tool_port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  "$root/usr/bin/vantoro-camera-sim" --cameras $cameras --bind 127.0.0.1 --port 0 \
    --reply-port "$tool_port" --log "$work/sim.log" >"$ready" &
  sim_pid=$!
  trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null' EXIT
  for _ in $(seq 100); do
    [[ -s $ready ]] && break
    kill -0 $sim_pid 2>/dev/null || break
    sleep 0.05
  done
  camera_port=$(sed -n 's/^camera simulator: .* on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$ready")
  [[ -n $camera_port ]] || fail "the packaged simulator did not start: $(cat "$ready" "$work/sim.log")"

  local out rc
  # The packaged command line.
  out=$(VANTORO_INTERFACES= timeout 60 "$root/usr/bin/vantoro" discover --wan 127.0.0.1 --camera-port "$camera_port" \
    --tool-port "$tool_port" --format csv 2>&1)
  rc=$?
  echo "$out"
  ((rc == 0)) || fail "vantoro discover exited $rc"
  [[ $(grep -ciE '00[: ]0a[: ]0b[: ]00[: ]00[: ]0[123]' <<<"$out") -eq $cameras ]] ||
    fail "vantoro discover did not list the $cameras simulated cameras"
  kill -TERM $sim_pid
  wait $sim_pid
  rc=$?
  trap - EXIT
  ((rc == 0)) || fail "the packaged simulator exited $rc on SIGTERM"
  echo "the packaged simulator answered a search from 127.0.0.1 and stopped cleanly"
}

capability() {
  need dpkg-deb getcap
  local control=$work/control fake=$work/nosetcap out
  rm -rf "$control" && dpkg-deb -e "$deb" "$control" || fail "dpkg-deb -e failed"
  [[ -x $control/postinst ]] || fail "the package has no postinst"
  # On the unpacked copy: vantoro gets CAP_NET_RAW, nothing more.
  if [[ $(id -u) -eq 0 ]]; then
    DPKG_ROOT=$root sh "$control/postinst" configure || fail "postinst configure failed"
    [[ $(getcap "$root/usr/bin/vantoro") == *cap_net_raw=ep* ]] ||
      fail "postinst left vantoro without cap_net_raw: $(getcap "$root/usr/bin/vantoro")"
  fi
  # A file system that cannot hold the capability: said, and no failure.
  mkdir -p "$fake" && printf '#!/bin/sh\necho "Failed to set capabilities" >&2\nexit 1\n' >"$fake/setcap" &&
    chmod 755 "$fake/setcap" || fail "cannot make $fake/setcap"
  out=$(PATH=$fake:$PATH DPKG_ROOT=$root sh "$control/postinst" configure 2>&1) ||
    fail "postinst failed where setcap cannot set the capability: $out"
  [[ $out == *"could not give"*"CAP_NET_RAW"* ]] || fail "postinst did not say it could not: $out"
  echo "postinst grants vantoro cap_net_raw, and installs all the same where it cannot"
}

case $step in
  prepare | lint | contents | config | sim | capability) $step ;;
  *) fail "unknown step $step" ;;
esac
