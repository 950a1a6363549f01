#!/usr/bin/env bash
# The Linux program as a systemd service, under a real systemd: boots a
# minimal Debian 12 container (scripts/build-systemd-root.sh) with
# systemd-nspawn, copies the build's tillwire into it and checks what the
# README promises for a hand install: with the user tillwire made as the
# README says, -install writes a unit that systemd accepts and enables; the
# service starts, runs as that user with raw capture as its only privilege
# inside systemd's sandbox (exposure at most 2.0), says in its status text
# what it captures, captures on lo and hands an NVR in the container exactly
# its terminal's bytes, which its status text then counts, as does its
# metrics file in node_exporter's textfile directory (given to the user as the
# README tells); its log is in
# /var/log/tillwire, readable by its user and group only; its events are in
# the journal; it stops within 5 s; a run that ends by itself fails the unit,
# which Restart=on-failure restarts; -uninstall removes the unit.
#
# The container shares the machine's network, so the test's traffic uses
# addresses (127.0.13.x) and an NVR port of its own. The cached root is never
# changed (the container runs on a throw-away overlay); the container is
# stopped and its files removed whatever happens.
#
# Usage (root): tests/systemd/service_under_systemd.sh [BUILD_DIR]
# BUILD_DIR holds the Linux build's tillwire (default: build/).
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)

# The terminal, its NVR and the traffic; no other test uses 127.0.13.x.
readonly nvr_port=19313
readonly nvr_address=127.0.13.50
readonly terminal_address=127.0.13.31
readonly stranger_address=127.0.13.32
readonly destination=127.0.13.40:9113
# Seconds within which a stop must end the service (its stop wait hint).
readonly stop_limit=5

if [ "$(id -u)" -ne 0 ]; then
  echo "service_under_systemd: needs root (systemd-nspawn)" >&2
  exit 1
fi
if [ ! -x "$build/tillwire" ]; then
  echo "service_under_systemd: no $build/tillwire; build the program first" >&2
  exit 1
fi
started=$(date +%s)
. "$top/tests/support/checks.sh"
. "$top/tests/systemd/container.sh"
. "$top/tests/systemd/least_privilege.sh"
make_work systemd
stage="$work/opt"           # /opt/tillwire in the container
mkdir -p "$stage"
# As a hand install leaves it: the program and its configuration readable by
# all, writable by root only.
chmod 0755 "$stage"
cp "$build/tillwire" "$stage/tillwire"
readonly log=/var/log/tillwire/Tillwire.log
readonly textfiles=/var/lib/prometheus/node-exporter
nvr_pid=""

log_has() { in_container grep -qF -- "$1" "$log" 2>/dev/null; }
log_count() { in_container grep -cF -- "$1" "$log" 2>/dev/null || true; }
unit_property() { in_container systemctl show -p "$1" --value Tillwire.service; }
journal_has() { in_container journalctl -q --no-pager -o cat "$1" "$2" | grep -qF -- "$3"; }
journal_lacks() { ! journal_has "$@"; }

write_configuration() {
  install -m 0644 /dev/stdin "$stage/Tillwire.xml" <<EOF
<Tillwire>
  <Network SniffAdapterAddress="127.0.0.1">
    <NVR Address="$nvr_address"/>
    $1
  </Network>
  <Metrics TextfileDirectory="$textfiles"/>
</Tillwire>
EOF
}

# --- Boot ----------------------------------------------------------------------

write_configuration "<Terminal SrcAddress=\"$terminal_address\" NvrPort=\"$nvr_port\"/>"
boot_container "$work/console.log" --bind="$stage:/opt/tillwire"

# --- Install -------------------------------------------------------------------

# The service's user, made as the README tells for a hand install.
check "the user tillwire is made" \
  in_container adduser --system --group --quiet --home /nonexistent --no-create-home tillwire
# node_exporter's textfile directory as its package makes it (root's, 0755),
# then given to the service's group as the README tells.
in_container mkdir -p "$textfiles"
check "dpkg-statoverride gives the textfile directory to the group tillwire" \
  in_container dpkg-statoverride --update --add root tillwire 0775 "$textfiles"

install_output=$(in_container /opt/tillwire/tillwire -install) && install_rc=0 || install_rc=$?
check "-install exits 0" [ "$install_rc" -eq 0 ]
check "-install says so" grep -qxF "Service installed successfully" <<<"$install_output"
check "the unit file exists" in_container test -f /etc/systemd/system/Tillwire.service
check "the unit is enabled" in_container systemctl -q is-enabled Tillwire.service
verify_output=$(in_container systemd-analyze verify /etc/systemd/system/Tillwire.service 2>&1) &&
  verify_rc=0 || verify_rc=$?
if [ "$verify_rc" -eq 0 ] && [ -z "$verify_output" ]; then
  pass "systemd-analyze verify has nothing to say"
else
  fail "systemd-analyze verify (status $verify_rc): $verify_output"
fi

# --- Start, capture, forward ---------------------------------------------------

check "systemctl start" in_container systemctl start Tillwire.service
check "the unit is active" in_container systemctl -q is-active Tillwire.service
check "the log says it listens on lo" wait_until 10 log_has "Listening on lo 127.0.0.1"
status_is() { [ "$(unit_property StatusText)" = "$1" ]; }
check "its status text says it captures, no NVR yet" wait_until 10 status_is \
  "Capturing on 127.0.0.1: 0 of 1 NVRs connected; 0 bytes forwarded in the last minute"
check_least_privilege
expect_text "its log directory is its user's alone" "tillwire tillwire 750" \
  "$(in_container stat -c '%U %G %a' /var/log/tillwire)"
expect_text "its log is readable by its user and group only" "tillwire tillwire 640" \
  "$(in_container stat -c '%U %G %a' "$log")"

# The NVR: connects from its own address and records what it receives.
nsenter -t "$container_pid" -a \
  socat -u "TCP:127.0.0.1:$nvr_port,bind=$nvr_address" CREATE:/tmp/nvr.bin &
nvr_pid=$!
check "the NVR is accepted" \
  wait_until 10 log_has "Accepted connection from NVR address: $nvr_address Port: $nvr_port"

send_udp() {  # FROM_ADDRESS TEXT
  printf '%s' "$2" | in_container socat -u - "UDP-SENDTO:$destination,bind=$1:40013"
}
send_udp "$terminal_address" $'receipt 1\n'
send_udp "$stranger_address" $'not this terminal\n'
send_udp "$terminal_address" $'receipt 2\n'
expected=$'receipt 1\nreceipt 2\n'
nvr_has_all() { [ "$(in_container stat -c %s /tmp/nvr.bin 2>/dev/null)" = "${#expected}" ]; }
nvr_received_expected() { in_container cat /tmp/nvr.bin | cmp -s - <(printf '%s' "$expected"); }
wait_until 10 nvr_has_all || true
check "the NVR receives exactly its terminal's bytes" nvr_received_expected
# Refreshed every 10 seconds.
check "its status text counts the NVR and the bytes forwarded" wait_until 15 status_is \
  "Capturing on 127.0.0.1: 1 of 1 NVRs connected; ${#expected} bytes forwarded in the last minute"
# Written every 15 seconds, through the sandbox's one opening for it.
forwarded_line="tillwire_terminal_forwarded_bytes_total{terminal=\"$terminal_address:::\",nvr_port=\"$nvr_port\"} ${#expected}"
metrics_count() { in_container grep -qxF "$forwarded_line" "$textfiles/tillwire.prom"; }
check "its metrics file counts the bytes forwarded" wait_until 20 metrics_count
expect_text "its metrics file is readable by node_exporter" "tillwire 644" \
  "$(in_container stat -c '%U %a' "$textfiles/tillwire.prom")"

check "the journal holds the install event" journal_has -t Tillwire "Installed service."
check "the journal holds the start event" journal_has -t Tillwire "Service started."
check "the journal holds no console help" \
  journal_lacks -u Tillwire.service "Must be run with command line options"

# --- Stop ----------------------------------------------------------------------

stop_began=$(date +%s%N)
check "systemctl stop" in_container systemctl stop Tillwire.service
stop_ms=$((($(date +%s%N) - stop_began) / 1000000))
check "the unit is inactive" [ "$(in_container systemctl is-active Tillwire.service)" = inactive ]
check "stopped within ${stop_limit}s (${stop_ms} ms)" [ "$stop_ms" -lt $((stop_limit * 1000)) ]
check "the log has the stop request" log_has "Received Stop request from Service Control Manager"
check "the log has the engine's stop" log_has "Received stop signal from SCM"
check "the log has the run's end" log_has "Exiting."
check "the journal holds the stop event" journal_has -t Tillwire "Service stopped."
# The NVR ends when the service closes its connection.
nvr_gone() {  # ended: no process, or one not yet waited for
  local state
  state=$(awk '{ print $3 }' /proc/"$nvr_pid"/stat 2>/dev/null) || true
  [ -z "$state" ] || [ "$state" = Z ]
}
check "the NVR's connection is closed" wait_until 5 nvr_gone
kill "$nvr_pid" 2>/dev/null || true
wait "$nvr_pid" 2>/dev/null || true
nvr_pid=""

# --- A run that ends by itself -------------------------------------------------

# No terminal has an address: the engine ends at once. The unit must fail,
# and Restart=on-failure must start it again (after 1 s here, not 60).
write_configuration "<Terminal NvrPort=\"$nvr_port\"/>"
in_container mkdir -p /etc/systemd/system/Tillwire.service.d
printf '[Service]\nRestartSec=1\n' |
  in_container tee /etc/systemd/system/Tillwire.service.d/restart-soon.conf >/dev/null
in_container systemctl daemon-reload
in_container systemctl start --no-block Tillwire.service
restarted() { [ "$(unit_property NRestarts)" -ge 1 ] && [ "$(log_count "No terminals were configured correctly")" -ge 2 ]; }
check "the failed run is restarted" wait_until 20 restarted
check "systemd saw the run fail" journal_has -u Tillwire.service "Failed with result 'exit-code'"
in_container systemctl stop Tillwire.service
in_container rm -r /etc/systemd/system/Tillwire.service.d
in_container systemctl daemon-reload
in_container systemctl reset-failed Tillwire.service 2>/dev/null || true

# --- Uninstall -----------------------------------------------------------------

uninstall_output=$(in_container /opt/tillwire/tillwire -uninstall) && uninstall_rc=0 || uninstall_rc=$?
check "-uninstall exits 0" [ "$uninstall_rc" -eq 0 ]
check "-uninstall says so" grep -qxF "Service uninstalled successfully" <<<"$uninstall_output"
check "the unit file is gone" in_container test ! -e /etc/systemd/system/Tillwire.service
check "the unit is no longer enabled" in_container test ! -e \
  /etc/systemd/system/multi-user.target.wants/Tillwire.service
check "systemd no longer knows the unit" \
  [ "$(unit_property LoadState)" = not-found ]

echo "service_under_systemd: $failures failed, $(($(date +%s) - started))s"
if [ "$failures" -ne 0 ]; then
  echo "--- Tillwire.log"
  in_container cat "$log" 2>/dev/null || true
  echo "--- journal of the unit"
  in_container journalctl -q --no-pager -u Tillwire.service -t Tillwire || true
  exit 1
fi
