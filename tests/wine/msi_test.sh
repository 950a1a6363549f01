#!/usr/bin/env bash
# The Windows Installer package under Wine's msiexec, silent as software
# distribution runs it: /i installs the program, the sample configuration and
# the README in Program Files\Tillwire, registers the service exactly as
# -install does (in place of one registered by hand from another directory)
# and starts nothing; net start runs the installed program; /i
# of the next version, while the service runs, replaces the program (one
# product, not two), keeps the edited configuration and starts the service
# again; /x stops and removes the service and its event source and keeps the
# configuration.
#
#   tests/wine/msi_test.sh path/to/tillwire-VERSION-windows-x64.msi
#
# The next version is the same build packaged again (scripts/make-msi.sh).
# The running service captures through Wine's wpcap.dll on lo (as root), with
# terminals at 127.0.14.1xx: Wine's libpcap waits for a first frame before its
# read time-out starts, so a stranger keeps sending while the service runs,
# and the service sees its stop between frames (tests/wine/service_test.sh).
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: $0 path/to/tillwire-VERSION-windows-x64.msi" >&2
  exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "msi_test: needs root (live capture under Wine)" >&2
  exit 2
fi
top=$(cd "$(dirname "$0")/../.." && pwd)
msi=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")

. "$top/tests/wine/prefix.sh"
. "$top/tests/support/checks.sh"
make_prefix msi

version=$(sed -n 's/^project(Tillwire VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
next_version=${version%.*}.$((${version##*.} + 1))
"$top/scripts/make-msi.sh" "$(dirname "$msi")" "$next_version" "$work/next.msi" 2>/dev/null
program_dir="$WINEPREFIX/drive_c/Program Files/Tillwire"
log="$program_dir/Tillwire.log"
win_exe='C:\Program Files\Tillwire\tillwire.exe'
uninstall_keys='[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{'

winpath() { WINEDEBUG=-all wine winepath.exe -w "$1" | tr -d '\r'; }
msiexec() {  # ARGS...: its exit status, its console output kept in $work
  WINEDEBUG=-all wine msiexec "$@" >>"$work/msiexec.out" 2>&1
}
service_state() {
  WINEDEBUG=-all wine sc query Tillwire 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $4 }'
}
service_running() { [ "$(service_state)" = RUNNING ]; }
log_count() { grep -cF -- "$1" "$log" 2>/dev/null || true; }
log_has() { [ "$(log_count "$1")" -ge "${2:-1}" ]; }
# The installed products named Tillwire, with their versions.
products() {
  KEYS="$uninstall_keys" awk 'index($0, ENVIRON["KEYS"]) == 1 { inside = 1; name = ""; version = ""; next }
       inside && $0 == "" { if (name == "\"Tillwire\"") print version; inside = 0 }
       inside && /^"DisplayName"=/ { sub(/^[^=]*=/, ""); name = $0 }
       inside && /^"DisplayVersion"=/ { sub(/^[^=]*=/, ""); gsub(/"/, ""); version = $0 }' \
    "$WINEPREFIX/system.reg"
}

# Wine's msiexec runs no rollback here, so the table says it: the action
# that unregisters on a rollback is a rollback action run as the system.
expect_text "the registration's rollback action is one" 3410 \
  "$(msiinfo export "$msi" CustomAction | awk -F'\t' '$1 == "RegisterRollback" { print $2 }')"

echo "== msiexec /i, $version, over a service registered by hand from elsewhere"
start_session "$work/session1.trace" "fixme+all"
hand_dir="$WINEPREFIX/drive_c/Tillwire by hand"
mkdir "$hand_dir"
cp "$(dirname "$msi")/tillwire.exe" "$hand_dir/"
check "registered by hand" sh -c "cd '$hand_dir' && WINEDEBUG=-all wine ./tillwire.exe -install >/dev/null 2>&1"
check "msiexec /i /qn succeeds" msiexec /i "$(winpath "$msi")" /qn
for file in tillwire.exe Tillwire.sample.xml README-Windows.txt; do
  check "installed: $file" test -f "$program_dir/$file"
done
check "the sample is the configuration" cmp -s "$program_dir/Tillwire.sample.xml" "$program_dir/Tillwire.xml"
expect_text "the service is registered and not started" STOPPED "$(service_state)"
# Once by hand, once by the package.
expect_text "failure actions given to the manager, reset period 86400 s" 2 \
  "$(grep -cF 'SERVICE_CONFIG_FAILURE_ACTIONS not implemented: period 86400 msg (null) cmd (null)' \
    "$work/session1.trace" || true)"
stop_session
check_registration "$win_exe"
expect_text "one product" "$version" "$(products)"

echo "== net start, then msiexec /i $next_version while the service runs"
configuration="<Tillwire><Network SniffAdapterAddress=\"127.0.0.1\"><NVR Address=\"127.0.0.1\"/><Terminal SrcAddress=\"127.0.14.101\" NvrPort=\"19415\"/></Network></Tillwire>"
printf '%s\r\n' "$configuration" >"$program_dir/Tillwire.xml"
start_session "$work/session2.trace" "-all"
(while :; do
  printf 'stranger' | socat -u - UDP-SENDTO:127.0.14.101:19416,bind=127.0.14.102 2>/dev/null || true
  sleep 0.05
done) &
stranger=$!
net_start() { WINEDEBUG=-all wine net start Tillwire >/dev/null 2>&1; }
check "net start" net_start
check "the service captures on lo" wait_until 30 log_has "Listening on lo 127.0.0.1"
check "msiexec /i /qn of the next version succeeds" msiexec /i "$(winpath "$work/next.msi")" /qn
check "the service runs again" wait_until 30 service_running
check "it started once more" wait_until 30 log_has "Listening on lo 127.0.0.1" 2
expect_text "the edited configuration is kept" "$configuration" \
  "$(tr -d '\r' <"$program_dir/Tillwire.xml")"

stop_session
expect_text "one product, the next version" "$next_version" "$(products)"
check_registration "$win_exe"

echo "== msiexec /x, the service running"
start_session "$work/session3.trace" "-all"
check "the service starts with the session" wait_until 30 service_running
check "msiexec /x /qn succeeds" msiexec /x "$(winpath "$work/next.msi")" /qn
check "the service is gone" [ -z "$(service_state)" ]
kill "$stranger" 2>/dev/null || true
wait "$stranger" 2>/dev/null || true
stop_session
expect_text "registry: the registration has gone" "" "$(registry_values)"
expect_text "registry: the event source has gone" "" "$(registry_values "$event_source_key")"
expect_text "no product" "" "$(products)"
for file in tillwire.exe Tillwire.sample.xml README-Windows.txt; do
  check "removed: $file" test ! -e "$program_dir/$file"
done
expect_text "the edited configuration is kept" "$configuration" \
  "$(tr -d '\r' <"$program_dir/Tillwire.xml")"

echo
if [ "$failures" -ne 0 ]; then
  echo "msi_test: $failures check(s) failed; msiexec said:"
  sed 's/^/    /' "$work/msiexec.out"
  exit 1
fi
echo "msi_test: all checks passed"
