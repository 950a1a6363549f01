#!/usr/bin/env bash
# Tillwire as a Windows service, checked against Wine's own service control
# manager, from its Windows package: the zip unpacked into the prefix;
# -install, -uninstall, the console run without options and the service
# started by the manager on a machine without a capture driver, with what each
# leaves on the console, in the exit status, the registry, the event log and
# Tillwire.log; then (as root) live capture through Wine's wpcap.dll with an
# NVR on the Linux side, and the stop.
#
#   tests/wine/service_test.sh path/to/tillwire-VERSION-windows-x64.zip
#
# Everything runs in a private copy of the shared Wine prefix (prefix.sh).
#
# What Wine shows, and how it is read here:
#   - The event log: with WINEDEBUG=+eventlog, Wine's ReportEvent stub prints
#     the entry's type and traces every insertion string.
#   - Failure actions: Wine 8 accepts SERVICE_CONFIG_FAILURE_ACTIONS without
#     storing them; its services.exe prints the reset period in a fixme line,
#     the only trace they leave. The restart actions themselves cannot be seen.
#   - Exit statuses of service processes: the manager keeps none, so the
#     session traces msvcrt's exit() with the calling process's id.
#   - A service process that exits on its own stays "running" for Wine 8's
#     manager (Windows marks it stopped), and a stop control sent to it fails.
#     Without a capture driver the engine always exits, so the uninstall of a
#     running service is checked with the registration pointed at Wine's
#     wuauserv.exe, a service that runs until it is stopped.
#   - Capture drivers: WINEDLLOVERRIDES="wpcap=" hides Wine's wpcap.dll (a
#     machine without Npcap). Wine's own wpcap.dll passes the pcap API to the
#     machine's libpcap: as root it lists the Linux adapters and captures on
#     them, here on lo, with test terminals at 127.0.9.x.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: $0 path/to/tillwire-VERSION-windows-x64.zip" >&2
  exit 2
fi
package=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
. "$(dirname "$0")/prefix.sh"
make_prefix service

# The package unpacked to a path with a blank, which the registered path must
# quote.
program_dir="$work/Program Files/Tillwire"
log="$program_dir/Tillwire.log"
mkdir -p "$work/unpacked" "$(dirname "$program_dir")"
(cd "$work/unpacked" && cmake -E tar xf "$package")
mv "$work/unpacked"/tillwire-*-windows-x64 "$program_dir"
# What it holds, and its text files' lines without a CR (checked below).
package_files=$(cd "$program_dir" && ls | LC_ALL=C sort)
package_lf_lines=$(cd "$program_dir" && cat README-Windows.txt Tillwire.xml | grep -cv $'\r$' || true)
config='<Tillwire><Network SniffAdapterAddress="192.168.10.2"><NVR Address="127.0.0.1"/><Terminal SrcAddress="192.168.10.31" NvrPort="5001"/></Network></Tillwire>'
printf '%s\n' "$config" >"$program_dir/Tillwire.xml"

# A service process started by Wine has its Windows path as its Unix command
# line, and that path holds this run's unique directory name.
service_process_pattern="$(basename "$work" | sed 's/\./\\./g').Program Files.Tillwire.tillwire\.exe"

# --- Reporting ----------------------------------------------------------------

. "$(dirname "$0")/../support/checks.sh"

lines() { [ $# -eq 0 ] || printf '%s\n' "$@"; }

# Tillwire.log without timestamps, one message a line; nothing when absent.
log_messages() {
  [ ! -f "$log" ] || sed -e 's/\r$//' -e 's/^\[ [^]]* \] //' "$log"
}
# The log's messages since mark_log.
mark_log() { log_mark=$(log_messages | wc -l); }
new_log_messages() { log_messages | tail -n +$((log_mark + 1)); }

# run NAME ARGS...: runs tillwire.exe from its directory with the event log
# traced, after marking the log; leaves NAME.out (the console, without CRs),
# NAME.err and the exit status in $status.
run() {
  local name=$1
  shift
  mark_log
  status=0
  (cd "$program_dir" && WINEDEBUG=+eventlog wine ./tillwire.exe "$@") \
    >"$work/$name.raw" 2>"$work/$name.err" || status=$?
  tr -d '\r' <"$work/$name.raw" >"$work/$name.out"
}

# The event-log entries a run wrote, one a line: the type given to
# ReportEventA, then the insertion strings.
events() {
  awk '/:fixme:advapi:ReportEventA \(/ { if (entry != "") print entry; split($0, field, ","); entry = field[2] }
       /:eventlog:ReportEventW L"/ { sub(/^[^"]*"/, ""); sub(/"$/, ""); entry = entry " \"" $0 "\"" }
       END { if (entry != "") print entry }' "$work/$1.err"
}
# Information entries (EVENTLOG_INFORMATION_TYPE) with the source Tillwire.
information() { printf '0x0004 "Tillwire" "%s"\n' "$@"; }

# expect_run NAME CONSOLE STATUS EVENTS LOG: what the run NAME printed, its
# exit status, its event-log entries and the messages it added to the log.
expect_run() {
  expect_text "$1: console" "$2" "$(cat "$work/$1.out")"
  if [ "$status" -eq "$3" ]; then
    pass "$1: exit status $3"
  else
    fail "$1: exit status $status, expected $3"
  fi
  expect_text "$1: event log" "$4" "$(events "$1")"
  expect_text "$1: program log" "$5" "$(new_log_messages)"
}

log_has_new() { [ "$(new_log_messages | wc -l)" -ge "$1" ]; }
no_service_process() { ! pgrep -f "$service_process_pattern" >/dev/null; }
service_running() { [[ "$(WINEDEBUG=-all wine sc query Tillwire 2>/dev/null || true)" =~ STATE\ *:\ *4\  ]]; }
service_gone() { ! WINEDEBUG=-all wine sc query Tillwire >/dev/null 2>&1; }

# start_service NAME COMMAND... EXPECTED_LOG: starts the service through a
# Wine command (net or sc), waits until the service process has written as
# many messages as expected and has exited, and compares them.
start_service() {
  local name=$1 expected=${*: -1} start_status=0
  mark_log
  WINEDEBUG=-all wine "${@:2:$#-2}" >/dev/null 2>&1 || start_status=$?
  if [ "$start_status" -eq 0 ]; then pass "$name: started"; else fail "$name: start failed ($start_status)"; fi
  if ! wait_until 30 log_has_new "$(lines "$expected" | wc -l)" || ! wait_until 30 no_service_process; then
    fail "$name: the service process did not finish within 30 s"
  fi
  expect_text "$name: program log" "$expected" "$(new_log_messages)"
}

usage_text='Service management options:
  -install    to install the service.
  -uninstall  to remove the service.
To start or stop Tillwire after it has been installed as a service use
    net start tillwire
or
    net stop tillwire

Command line playback of a Wireshark packet capture file is also supported:
  -f <pcapfilename>

What the mirror port carries, and which of it the terminals take:
  -survey [<pcapfilename> | <seconds>] [-all]
      to list the TCP and UDP conversations on the adapter of Tillwire.xml
      (for 60 seconds unless given) or in a capture file, which terminal
      takes each, and Terminal lines for receipts that none takes;
      -all lists every conversation, not only the 50 with the most bytes.'
console_help='This application is designed to be run as a Windows service.
It cannot be run from the command line.

To install as a service, run using the command line option  /install
then start it from the Windows Services panel.
The service name to look for is '"'Tillwire'"'.
You may also start the installed service from a command prompt with the command
    sc start Tillwire'
# The version is the build's: the CMake project version.
version=$(sed -n 's/^project(Tillwire VERSION \([0-9.]*\).*/\1/p' \
  "$(dirname "${BASH_SOURCE[0]}")/../../CMakeLists.txt")
banner="------ Starting Tillwire version $version"
no_capture_library='Unable to load wpcap.dll, the packet capture library. Install Npcap (with or without its WinPcap API-compatible mode) or WinPcap, then start Tillwire again.'
failure_actions_line='SERVICE_CONFIG_FAILURE_ACTIONS not implemented: period 86400 msg (null) cmd (null)'

echo "== The package"
expect_text "package: its files" "$(lines README-Windows.txt Tillwire.xml tillwire.exe)" \
  "$package_files"
expect_text "package: text files with Windows line ends" 0 "$package_lf_lines"

# --- Session 1: console runs, install, uninstall, starts by command -----------
# A machine without a capture driver: Wine's wpcap.dll is hidden.

export WINEDLLOVERRIDES="wpcap="
session1="$work/session1.trace"
# +pid and +loaddll tell which processes are service runs of tillwire.exe,
# and msvcrt's trace shows the status each passed to exit().
start_session "$session1" "+pid,+loaddll,+eventlog,trace+msvcrt"
failure_actions_set() { grep -cF "$failure_actions_line" "$session1" || true; }
win_exe=$(WINEDEBUG=-all wine winepath.exe -w "$program_dir/tillwire.exe" | tr -d '\r')

# Started from a console, Wine's dispatcher tries the control pipe of the
# service the manager started last and, while that service runs, waits out
# the pipe's 10 s timeout before it fails. Once that service has stopped there
# is no pipe to wait for, and the dispatcher fails at once, as on Windows.
WINEDEBUG=-all wine net start wuauserv >/dev/null 2>&1 || true
WINEDEBUG=-all wine net stop wuauserv >/dev/null 2>&1 || true

echo "== No options, from a console"
run no_options
# 1063 (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) in its low 8 bits.
expect_run no_options \
  "$(lines "Must be run with command line options or installed as a service" "" \
    "$usage_text" "$console_help")" 39 "" ""

echo "== -uninstall, not installed"
run uninstall_absent -uninstall
expect_run uninstall_absent "The service is not installed" 0 "" ""
expect_text "uninstall_absent: no log file" "absent" "$([ -e "$log" ] && echo present || echo absent)"

echo "== -install from a path too long for the module-path buffer"
# Windows' runtime cuts the program's own path too, so where this run's log
# lines go is not checked; only that nothing is registered under a cut path.
long_dir="$program_dir/$(printf 'd%.0s' {1..120})/$(printf 'l%.0s' {1..120})"
mkdir -p "$long_dir"
cp "$program_dir/tillwire.exe" "$long_dir/tillwire.exe"
long_status=0
(cd "$long_dir" && WINEDEBUG=-all wine ./tillwire.exe -install) >"$work/long.raw" 2>/dev/null ||
  long_status=$?
expect_text "long path: install fails with the buffer's error" \
  "$(lines "GetModuleFileName() failed. Error code=0x0000007a" \
    "Error installing service.  See the application log for details." 255)" \
  "$(tr -d '\r' <"$work/long.raw" | grep -E '^(GetModuleFileName|Error installing)'; echo "$long_status")"
if service_gone; then pass "long path: nothing registered"; else fail "long path: a service was registered"; fi
rm -rf "$long_dir"

echo "== -install"
run install -install
expect_run install "Service installed successfully" 0 \
  "$(information "Installed service.")" "Installed service."
expect_text "install: failure actions given to the manager, reset period 86400 s" \
  1 "$(failure_actions_set)"

echo "== -install, already installed"
run install_again -install
expect_run install_again "The service is already installed" 0 "" ""
expect_text "install_again: no new configuration" 1 "$(failure_actions_set)"

echo "== -uninstall, installed and stopped"
run uninstall_stopped -uninstall
# Neither a stop entry nor an error for the stop control it refuses.
expect_run uninstall_stopped "Service uninstalled successfully" 0 \
  "$(information "Deleted service.")" "Deleted service."

echo "== -install again"
run reinstall -install
expect_run reinstall "Service installed successfully" 0 \
  "$(information "Installed service.")" "Installed service."

echo "== Starts by command (live capture without a capture driver)"
start_service net_start net start Tillwire "$(lines "$banner" "$no_capture_library")"
rm "$program_dir/Tillwire.xml"
start_service sc_start_unconfigured sc start Tillwire \
  "$(lines "$banner" "Failed to load Tillwire.xml. Exiting." "No such file or directory")"
printf '%s\n' "$config" >"$program_dir/Tillwire.xml"

# The statuses the service runs of tillwire.exe passed to exit(), in order.
service_pids=$(sed -n 's/^\([0-9a-f]*\):[0-9a-f]*:trace:loaddll:[^ ]* Loaded L".*\\tillwire\.exe".*/\1/p' \
  "$session1" | sort -u | paste -sd '|')
expect_text "service runs exited with -3 (no capture driver), then -1 (no Tillwire.xml)" \
  "$(lines -3 -1)" \
  "$(sed -En "s/^(${service_pids:-none}):[0-9a-f]*:trace:msvcrt:exit \((.*)\)$/\2/p" "$session1")"

stop_session

echo "== Registration in system.reg"
check_registration "$win_exe"
unset WINEDLLOVERRIDES

# --- Session 2: automatic start, uninstall of a running service ---------------

edit_registration 'inside && /^"ImagePath"=/ { $0 = "\"ImagePath\"=\"C:\\\\windows\\\\system32\\\\wuauserv.exe\"" }
                   { print }'

echo "== Session boot, Tillwire registered with wuauserv.exe as its image"
start_session "$work/session2.trace" "-all"
if wait_until 30 service_running; then
  pass "boot: the manager starts the automatic service"
else
  fail "boot: the manager did not start the automatic service within 30 s"
fi

echo "== -uninstall, running"
run uninstall_running -uninstall
expect_run uninstall_running "Service uninstalled successfully" 0 \
  "$(information "Stopped the service in order to uninstall" "Deleted service.")" \
  "$(lines "Stopped the service in order to uninstall" "Deleted service.")"
if ! wait_until 30 service_gone; then
  fail "uninstall_running: the manager still lists the service after 30 s"
fi
stop_session
expect_text "registry: the registration has gone" "" "$(registry_values)"
expect_text "registry: the event source has gone" "" "$(registry_values "$event_source_key")"

# --- Session 3: live capture through Wine's wpcap.dll -------------------------
# The terminal 127.0.9.1 sends UDP on lo, and so does a stranger, 127.0.9.2;
# the NVR, a socat on the Linux side, must receive exactly the terminal's
# payloads. The stranger keeps sending all along: the machine's libpcap, under
# Wine's wpcap.dll, waits for a first frame before its read time-out starts,
# so the engine serves its NVRs and its stop only between frames (Npcap's
# reads end at the time-out on a quiet network; Linux's own tests check that).
# The stranger sends to the terminal's address, so that its frames pass the
# capture filter built from the terminal table, yet match no terminal.

live_port=19091
udp_target="127.0.0.1:19093"
# send_udp SOURCE PAYLOAD [TARGET]
send_udp() {
  printf '%s' "$2" | socat -u - "UDP-SENDTO:${3:-$udp_target},bind=$1" 2>/dev/null || true
}
log_has() { log_messages | grep -qxF -- "$1"; }
nvr_has() { [ "$(stat -c %s "$work/nvr.bytes" 2>/dev/null || echo 0)" -ge "$1" ]; }
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: live capture under Wine needs root"
else
  echo "== Live capture on lo as a service, NVR on Linux"
  printf '%s\n' "<Tillwire><Network SniffAdapterAddress=\"127.0.0.1\"><NVR Address=\"127.0.0.1\"/><Terminal SrcAddress=\"127.0.9.1\" NvrPort=\"$live_port\"/></Network></Tillwire>" \
    >"$program_dir/Tillwire.xml"
  start_session "$work/session3.trace" "-all"
  run live_install -install
  expect_text "live: installed" "Service installed successfully" "$(cat "$work/live_install.out")"
  (while :; do send_udp 127.0.9.2 "stranger" 127.0.9.1:19093; sleep 0.05; done) &
  stranger=$!
  mark_log
  WINEDEBUG=-all wine net start Tillwire >/dev/null 2>&1 || fail "live: net start failed"
  if wait_until 30 log_has "Listening on lo 127.0.0.1"; then
    pass "live: Listening on lo 127.0.0.1"
  else
    fail "live: no \"Listening on lo 127.0.0.1\" within 30 s"
  fi
  socat -u "TCP:127.0.0.1:$live_port,retry=100,interval=0.1" "OPEN:$work/nvr.bytes,creat,trunc" &
  nvr=$!
  wait_until 30 log_has "Accepted connection from NVR address: 127.0.0.1 Port: $live_port" ||
    fail "live: the NVR was not accepted within 30 s"
  # Half a minute of receipts, two a second: the service keeps running and
  # forwarding as long as the session lasts, not only in its first seconds.
  expected=""
  traffic_started=$(date +%s)
  for i in $(seq 1 60); do
    send_udp 127.0.9.1 "receipt line $i"$'\n'
    expected+="receipt line $i"$'\n'
    sleep 0.5
  done
  wait_until 20 nvr_has "${#expected}" || true
  expect_text "live: the NVR received exactly its terminal's payloads" \
    "$(printf '%s' "$expected")" "$(cat "$work/nvr.bytes")"
  if service_running && kill -0 "$session_holder" 2>/dev/null &&
    [ $(($(date +%s) - traffic_started)) -ge 30 ]; then
    pass "live: still running after $(($(date +%s) - traffic_started)) s of traffic"
  else
    fail "live: the service, or the session's holder, did not last through 30 s of traffic"
  fi

  echo "== net stop, within 5 s"
  stop_started=$(date +%s%N)
  stop_status=0
  WINEDEBUG=-all wine net stop Tillwire >/dev/null 2>&1 || stop_status=$?
  stop_ms=$((($(date +%s%N) - stop_started) / 1000000))
  if [ "$stop_status" -eq 0 ] && [ "$stop_ms" -le 5000 ] && wait_until 5 no_service_process; then
    pass "live: stopped in $stop_ms ms"
  else
    fail "live: net stop gave $stop_status after $stop_ms ms"
  fi
  kill "$stranger" "$nvr" 2>/dev/null || true
  wait "$stranger" "$nvr" 2>/dev/null || true
  expect_text "live: the stop in the log" \
    "$(lines "Received Stop request from Service Control Manager" "Received stop signal from SCM" "Exiting.")" \
    "$(new_log_messages | grep -E '^(Received|Exiting)')"
  run live_uninstall -uninstall
  expect_text "live: uninstalled" "Service uninstalled successfully" "$(cat "$work/live_uninstall.out")"
  stop_session
fi

echo
if [ "$failures" -ne 0 ]; then
  echo "service_test: $failures check(s) failed"
  exit 1
fi
echo "service_test: all checks passed"
