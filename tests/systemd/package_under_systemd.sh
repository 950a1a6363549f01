#!/usr/bin/env bash
# The Debian package under a real systemd, as an administrator uses it: in a
# Debian 12 container (tests/systemd/container.sh), dpkg -i installs the
# package (the user tillwire, the conffile /etc/tillwire/Tillwire.xml that the
# program finds beside itself, the unit) and enables and starts nothing; the
# administrator's edited configuration, then systemctl enable --now, give a
# service that runs as tillwire with raw capture as its only privilege inside
# systemd's sandbox, captures on lo and hands its NVR exactly its terminal's
# bytes; dpkg -i of the next version, while the service runs, restarts it
# with the new program and keeps the edited configuration; its log in
# /var/log/tillwire rotates; dpkg -r stops and disables it and keeps the
# configuration; dpkg -P removes the rest. Removal never fails on a service
# that is stopped, nor where systemd does not run. Installed over the layout
# before /etc/tillwire, the package keeps the edited configuration and
# replaces the unit that -install wrote then.
#
# The packages: scripts/package-linux.sh's, of the project's version and of
# the next one (the same build packaged again). lintian checks the first,
# the program's hardening included.
#
# The container shares the machine's network, so the traffic uses addresses
# (127.0.14.x) and an NVR port of its own.
#
# Usage (root): tests/systemd/package_under_systemd.sh [BUILD_DIR]
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build}

# The terminal, its NVR and the traffic; no other test uses 127.0.14.x.
readonly nvr_port=19414
readonly nvr_address=127.0.14.50
readonly terminal_address=127.0.14.31
readonly stranger_address=127.0.14.32
readonly destination=127.0.14.40:9114

if [ "$(id -u)" -ne 0 ]; then
  echo "package_under_systemd: needs root (systemd-nspawn)" >&2
  exit 1
fi

version=$(sed -n 's/^project(Tillwire VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
next_version=${version%.*}.$((${version##*.} + 1))
started=$(date +%s)
. "$top/tests/support/checks.sh"
. "$top/tests/systemd/container.sh"
. "$top/tests/systemd/least_privilege.sh"
make_work package
mkdir "$work/debs"
cp "$("$top/scripts/package-linux.sh" "$build" "$next_version")" "$work/debs/next.deb"
rm "$build/tillwire_${next_version}_amd64.deb"
cp "$("$top/scripts/package-linux.sh" "$build")" "$work/debs/first.deb"
dpkg-deb -x "$work/debs/first.deb" "$work/unpacked"

# The layout before /etc/tillwire, as a package of the previous version: the
# program and its configuration, a conffile, in /opt/tillwire, and no unit
# (the administrator's -install wrote one).
previous_version=${version%.*}.$((${version##*.} - 1))
mkdir -p "$work/previous/DEBIAN" "$work/previous/opt/tillwire"
cp "$work/unpacked/opt/tillwire/tillwire" "$work/unpacked/etc/tillwire/Tillwire.xml" \
  "$work/previous/opt/tillwire/"
echo /opt/tillwire/Tillwire.xml >"$work/previous/DEBIAN/conffiles"
cat >"$work/previous/DEBIAN/control" <<EOF
Package: tillwire
Version: $previous_version
Architecture: amd64
Maintainer: Tillwire tests <tests@localhost>
Description: Tillwire in the layout before /etc/tillwire
EOF
dpkg-deb --root-owner-group -b "$work/previous" "$work/debs/previous.deb" >/dev/null

readonly program=/opt/tillwire/tillwire
readonly configuration=/etc/tillwire/Tillwire.xml
readonly unit=/lib/systemd/system/Tillwire.service
readonly log=/var/log/tillwire/Tillwire.log

main_pid() { in_container systemctl show -p MainPID --value Tillwire.service; }
# No process of the container runs a program called tillwire (it has no pgrep).
no_tillwire_process() {
  in_container sh -c 'for c in /proc/[0-9]*/comm; do [ "$(cat "$c" 2>/dev/null)" != tillwire ] || exit 1; done'
}
package_status() { in_container dpkg-query -W -f='${db:Status-Abbrev}${Version}' tillwire 2>/dev/null; }
dpkg_succeeds() {  # ARGS...: dpkg's own output only when it fails
  local output
  output=$(in_container dpkg "$@" 2>&1) || { printf '%s\n' "$output" | sed 's/^/    /'; return 1; }
}

# serve_nvr LABEL: an NVR connects, the terminal and a stranger send, and the
# NVR must receive exactly the terminal's bytes; then the NVR disconnects.
serve_nvr() {
  local label=$1 expected=$'receipt 1\nreceipt 2\n' nvr_pid
  in_container rm -f /tmp/nvr.bin
  nsenter -t "$container_pid" -a \
    socat -u "TCP:127.0.0.1:$nvr_port,bind=$nvr_address,retry=100,interval=0.1" CREATE:/tmp/nvr.bin &
  nvr_pid=$!
  nvr_accepted() { [ "$(in_container grep -cF "Accepted connection from NVR address: $nvr_address" \
    "$log")" -ge "$1" ]; }
  check "$label: the NVR is accepted" wait_until 10 nvr_accepted "$2"
  for sender in "$terminal_address:receipt 1" "$stranger_address:not this terminal" \
    "$terminal_address:receipt 2"; do
    printf '%s\n' "${sender#*:}" |
      in_container socat -u - "UDP-SENDTO:$destination,bind=${sender%%:*}:40014"
  done
  nvr_has_all() { [ "$(in_container stat -c %s /tmp/nvr.bin 2>/dev/null)" = "${#expected}" ]; }
  wait_until 10 nvr_has_all || true
  expect_text "$label: the NVR receives exactly its terminal's bytes" "$expected" \
    "$(in_container cat /tmp/nvr.bin)"$'\n'
  kill "$nvr_pid" 2>/dev/null || true
  wait "$nvr_pid" 2>/dev/null || true
}

echo "== lintian"
lintian_output=$(lintian -I "$work/debs/first.deb" 2>&1 | grep -E "^[EW]: |hardening-") || true
expect_text "lintian: no error, no warning, no hardening tag" "" "$lintian_output"
check_hardened() {  # EXECUTABLE
  local header dynamic segments symbols
  header=$(readelf -h "$1") && dynamic=$(readelf -d "$1") && segments=$(readelf -lW "$1") &&
    symbols=$(readelf --dyn-syms -W "$1") || return 1
  grep -q "DYN (Position-Independent Executable file)" <<<"$header" &&
    grep -q "FLAGS.*BIND_NOW" <<<"$dynamic" && grep -q GNU_RELRO <<<"$segments" &&
    grep -q "__stack_chk_fail" <<<"$symbols" && grep -q "__[a-z]*_chk@" <<<"$symbols"
}
check "the program is hardened (PIE, BIND_NOW, RELRO, stack protector, fortified functions)" \
  check_hardened "$work/unpacked$program"

boot_container "$work/console.log" --bind-ro="$work/debs:/debs"

echo "== dpkg -i $version"
check "dpkg -i succeeds" dpkg_succeeds -i /debs/first.deb
expect_text "the package is installed" "ii $version" "$(package_status)"
expect_text "the program is root's, and runs for all" "root root 755" \
  "$(in_container stat -c '%U %G %a' "$program")"
check "the service's user is made" in_container sh -c 'id tillwire >/dev/null'
expect_text "the sample configuration is a conffile" "$configuration" \
  "$(in_container dpkg-query -W -f='${Conffiles}' tillwire | awk 'NF { print $1 }')"
expect_text "the program finds it beside itself" "$configuration" \
  "$(in_container readlink /opt/tillwire/Tillwire.xml)"
check "the sample configuration has Linux line ends and no placeholder" \
  in_container sh -c "! grep -q -e \"\$(printf '\\r')\" -e @ $configuration"
verify_output=$(in_container systemd-analyze verify "$unit" 2>&1) || true
expect_text "the shipped unit: systemd-analyze verify has nothing to say" "" "$verify_output"
expect_text "the unit is not enabled" disabled "$(in_container systemctl is-enabled Tillwire.service)"
check "nothing runs" no_tillwire_process

echo "== The administrator's configuration, systemctl enable --now"
in_container tee "$configuration" >/dev/null <<EOF
<Tillwire>
  <Network SniffAdapterAddress="127.0.0.1">
    <NVR Address="$nvr_address"/>
    <Terminal SrcAddress="$terminal_address" NvrPort="$nvr_port"/>
  </Network>
</Tillwire>
EOF
edited=$(in_container cat "$configuration")
check "systemctl enable --now" in_container systemctl enable --quiet --now Tillwire.service
listening() { [ "$(in_container grep -cF "Listening on lo 127.0.0.1" "$log")" -ge "$1" ]; }
check "the log says it listens on lo" wait_until 10 listening 1
check_least_privilege
serve_nvr "$version" 1

echo "== dpkg -i $next_version while the service runs"
first_pid=$(main_pid)
check "dpkg -i succeeds" dpkg_succeeds -i /debs/next.deb
expect_text "the next version is installed" "ii $next_version" "$(package_status)"
check "the unit is active" in_container systemctl -q is-active Tillwire.service
new_pid=$(main_pid)
check "the service was restarted ($first_pid, then $new_pid)" \
  [ "$new_pid" != "$first_pid" ] && [ "$new_pid" != 0 ]
expect_text "it runs the installed program, not the replaced one" "$program" \
  "$(in_container readlink "/proc/$new_pid/exe")"
expect_text "the edited configuration is kept" "$edited" "$(in_container cat "$configuration")"
check "the log says it listens again" wait_until 10 listening 2
serve_nvr "$next_version" 2

echo "== The log rotates"
# A log past 1 MiB is moved to Tillwire.log.old at a line start: the service,
# started again, writes its first lines.
check "systemctl stop" in_container systemctl stop Tillwire.service
in_container sh -c "head -c 1100000 /dev/zero | tr '\\0' x >> $log"
check "systemctl start" in_container systemctl start Tillwire.service
check "the service starts a new log" wait_until 10 listening 1
check "the old log is kept as Tillwire.log.old" \
  in_container grep -qF "Accepted connection from NVR address" "$log.old"
for file in "$log" "$log.old"; do
  expect_text "$(basename "$file") is readable by the service's user and group only" \
    "tillwire tillwire 640" "$(in_container stat -c '%U %G %a' "$file")"
done

echo "== dpkg -r"
check "dpkg -r succeeds" dpkg_succeeds -r tillwire
expect_text "only the configuration is left" "rc $next_version" "$(package_status)"
check "the unit is gone" in_container test ! -e "$unit"
check "the unit is no longer enabled" \
  in_container test ! -e /etc/systemd/system/multi-user.target.wants/Tillwire.service
expect_text "systemd no longer knows the unit" not-found \
  "$(in_container systemctl show -p LoadState --value Tillwire.service)"
check "nothing runs" no_tillwire_process
check "the program is gone" in_container test ! -e "$program"
expect_text "the edited configuration is kept" "$edited" "$(in_container cat "$configuration")"

echo "== dpkg -P"
check "dpkg -P succeeds" dpkg_succeeds -P tillwire
expect_text "the package is unknown" "" "$(package_status)"
for path in /opt/tillwire /etc/tillwire /var/log/tillwire; do
  check "$path is gone" in_container test ! -e "$path"
done

echo "== Removal of an enabled, stopped service"
check "dpkg -i succeeds" dpkg_succeeds -i /debs/first.deb
in_container systemctl enable --quiet Tillwire.service
check "dpkg -P succeeds" dpkg_succeeds -P tillwire
check "the unit is no longer enabled" \
  in_container test ! -e /etc/systemd/system/multi-user.target.wants/Tillwire.service

echo "== Installation and removal where systemd does not run"
# As in a chroot or an image being built: /run/systemd hidden from dpkg.
without_systemd() { in_container unshare -m sh -c 'mount -t tmpfs none /run/systemd && "$@"' sh "$@"; }
check "dpkg -i succeeds" without_systemd dpkg -i /debs/first.deb
check "dpkg -r succeeds" without_systemd dpkg -r tillwire
check "dpkg -P succeeds" without_systemd dpkg -P tillwire
expect_text "the package is unknown" "" "$(package_status)"

echo "== An upgrade from the layout before /etc/tillwire"
check "dpkg -i $previous_version" dpkg_succeeds -i /debs/previous.deb
edited_before=${edited/$nvr_port/$((nvr_port + 1))}
in_container tee /opt/tillwire/Tillwire.xml >/dev/null <<<"$edited_before"
# The unit that -install wrote then: the service as root, no sandbox.
in_container tee /etc/systemd/system/Tillwire.service >/dev/null <<EOF
[Unit]
Description=Corvane Tillwire service
Wants=network-online.target
After=network-online.target

[Service]
Type=notify
ExecStart=/opt/tillwire/tillwire
Restart=on-failure
RestartSec=60

[Install]
WantedBy=multi-user.target
EOF
in_container systemctl daemon-reload
check "the service of that layout runs" in_container systemctl enable --quiet --now Tillwire.service
check "dpkg -i $version succeeds" dpkg_succeeds -i /debs/first.deb
expect_text "the edited configuration is now in /etc/tillwire" "$edited_before" \
  "$(in_container cat "$configuration")"
check "the unit -install wrote is gone" in_container test ! -e /etc/systemd/system/Tillwire.service
expect_text "the package's unit is enabled in its place" enabled \
  "$(in_container systemctl is-enabled Tillwire.service)"
check "the unit is active" in_container systemctl -q is-active Tillwire.service
expect_text "the service runs as tillwire" "$(in_container id -u tillwire)" \
  "$(status_field "$(main_pid)" Uid | awk '{ print $2 }')"
check "the log says it listens on lo" wait_until 10 listening 1
check "dpkg -P succeeds" dpkg_succeeds -P tillwire
check "nothing runs" no_tillwire_process

echo "package_under_systemd: $failures failed, $(($(date +%s) - started))s"
if [ "$failures" -ne 0 ]; then
  echo "--- Tillwire.log"
  in_container cat "$log" 2>/dev/null || true
  echo "--- journal of the unit"
  in_container journalctl -q --no-pager -u Tillwire.service -t Tillwire || true
  exit 1
fi
