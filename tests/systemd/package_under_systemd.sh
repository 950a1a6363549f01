#!/usr/bin/env bash
# The Debian package under a real systemd, as an administrator uses it: in a
# Debian 12 container (tests/systemd/container.sh), dpkg -i installs the
# package and starts nothing; the administrator's edited Tillwire.xml, then
# -install and systemctl start give a service that captures on lo and hands
# its NVR exactly its terminal's bytes; dpkg -i of the next version, while the
# service runs, restarts it with the new program and keeps the edited
# configuration; dpkg -r stops and unregisters it and keeps the
# configuration; dpkg -P removes the rest.
#
# The packages: scripts/package-linux.sh's, of the project's version and of
# the next one (the same build packaged again).
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
make_work package
mkdir "$work/debs"
cp "$("$top/scripts/package-linux.sh" "$build" "$next_version")" "$work/debs/next.deb"
rm "$build/tillwire_${next_version}_amd64.deb"
cp "$("$top/scripts/package-linux.sh" "$build")" "$work/debs/first.deb"

readonly program=/opt/tillwire/tillwire
readonly configuration=/opt/tillwire/Tillwire.xml
readonly unit=/etc/systemd/system/Tillwire.service

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
    /opt/tillwire/Tillwire.log)" -ge "$1" ]; }
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

boot_container "$work/console.log" --bind-ro="$work/debs:/debs"

echo "== dpkg -i $version"
check "dpkg -i succeeds" dpkg_succeeds -i /debs/first.deb
expect_text "the package is installed" "ii $version" "$(package_status)"
check "the program is installed" in_container test -x "$program"
expect_text "the sample configuration is a conffile" "$configuration" \
  "$(in_container dpkg-query -W -f='${Conffiles}' tillwire | awk 'NF { print $1 }')"
check "the sample configuration has Linux line ends and no placeholder" \
  in_container sh -c "! grep -q -e \"\$(printf '\\r')\" -e @ $configuration"
check "no unit is registered" in_container test ! -e "$unit"
check "nothing runs" no_tillwire_process

echo "== The administrator's configuration, -install, systemctl start"
in_container tee "$configuration" >/dev/null <<EOF
<Tillwire>
  <Network SniffAdapterAddress="127.0.0.1">
    <NVR Address="$nvr_address"/>
    <Terminal SrcAddress="$terminal_address" NvrPort="$nvr_port"/>
  </Network>
</Tillwire>
EOF
edited=$(in_container cat "$configuration")
check "-install" in_container "$program" -install
check "systemctl start" in_container systemctl start Tillwire.service
listening() { [ "$(in_container grep -cF "Listening on lo 127.0.0.1" /opt/tillwire/Tillwire.log)" -ge "$1" ]; }
check "the log says it listens on lo" wait_until 10 listening 1
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
check "/opt/tillwire is gone" in_container test ! -e /opt/tillwire

echo "package_under_systemd: $failures failed, $(($(date +%s) - started))s"
if [ "$failures" -ne 0 ]; then
  echo "--- Tillwire.log"
  in_container cat /opt/tillwire/Tillwire.log 2>/dev/null || true
  echo "--- journal of the unit"
  in_container journalctl -q --no-pager -u Tillwire.service -t Tillwire || true
  exit 1
fi
