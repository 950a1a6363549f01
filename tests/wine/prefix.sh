# A private copy of the shared Wine prefix, and Wine sessions in it, for the
# tests of the Windows service (sourced, not run). Wine's services.exe starts
# every automatically started service whenever a session boots in a prefix,
# so a registered Tillwire must never reach the shared one. Copying the
# prefix takes under a second; initialising a fresh one, about 12.
#
#   make_prefix NAME           makes the work directory $work
#                              (tillwire-NAME.XXXXXX), with the copy in
#                              $work/prefix as WINEPREFIX, removed with the
#                              copy's Wine server when the script exits
#   registry_values [KEY]      the values of a key in system.reg (by default
#                              the service's), one a line
#   edit_registration AWK      rewrites system.reg through an awk program
#                              that sees the service's key (inside is 1 on its
#                              lines) and prints what is to be kept
#   check_registration EXE     checks (tests/support/checks.sh) that
#                              system.reg holds the service as -install
#                              registers it for the Windows path EXE, and its
#                              event source
#   start_session TRACE DEBUG  boots a session that lasts until stop_session
#   stop_session               ends it; system.reg is written then
#
# wineserver writes system.reg when it exits, so a registration is read
# between two sessions.

registry_key='[System\\CurrentControlSet\\Services\\Tillwire]'
event_source_key='[System\\CurrentControlSet\\Services\\Eventlog\\Application\\Tillwire]'

make_prefix() {
  local shared_prefix="${TILLWIRE_WINDEPS:-/var/cache/tillwire/windeps}/wineprefix"
  if [ ! -f "$shared_prefix/system.reg" ]; then
    echo "no Wine prefix at $shared_prefix (scripts/build-windows-deps.sh makes it)" >&2
    exit 2
  fi
  work=$(mktemp -d "${TMPDIR:-/tmp}/tillwire-$1.XXXXXX")
  export WINEPREFIX="$work/prefix"
  unset WINESERVER WINEDEBUG
  trap remove_prefix EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  cp -a "$shared_prefix" "$WINEPREFIX"
  if [ -n "$(registry_values)" ]; then
    echo "NOTE: the shared prefix has a Tillwire service registered; removed from the copy"
    edit_registration '!inside { print }'
  fi
}

remove_prefix() {
  # The background jobs of a test that ended early.
  kill $(jobs -p) 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$work"
}

registry_values() {
  KEY="${1:-$registry_key}" awk 'index($0, ENVIRON["KEY"]) == 1 { inside = 1; next }
                           inside && $0 == "" { exit }
                           inside && !/^#/ { print }' "$WINEPREFIX/system.reg"
}

edit_registration() {
  KEY="$registry_key" awk "index(\$0, ENVIRON[\"KEY\"]) == 1 { inside = 1 }
                           inside && \$0 == \"\" { inside = 0 }
                           $1" "$WINEPREFIX/system.reg" >"$work/system.reg"
  mv "$work/system.reg" "$WINEPREFIX/system.reg"
}

check_registration() {
  local image_path="\"ImagePath\"=\"\\\"${1//\\/\\\\}\\\"\""
  local registration value
  registration=$(registry_values)
  for value in '"Description"="Corvane Tillwire service"' '"DisplayName"="Tillwire"' \
    '"ErrorControl"=dword:00000001' "$image_path" '"ObjectName"="LocalSystem"' \
    '"Start"=dword:00000002' '"Type"=dword:00000010'; do
    if grep -qxF -- "$value" <<<"$registration"; then
      pass "registry: $value"
    else
      fail "registry: $value; the key holds:"
      sed 's/^/    /' <<<"$registration"
    fi
  done
  # The executable is the event source's message file, for the Event Viewer.
  expect_text "registry: the event source's message file and types" \
    "$(printf '%s\n' "\"EventMessageFile\"=str(2):\"${1//\\/\\\\}\"" '"TypesSupported"=dword:00000005')" \
    "$(registry_values "$event_source_key" | LC_ALL=C sort)"
}

# Wine's services.exe, and the services it starts, inherit the booting
# process's environment and standard error: the session's trace goes to the
# file TRACE, with the debug channels DEBUG. A Wine session ends with its last
# client process, and the services it runs with it (a persistent wineserver
# does not hold it): a client that waits in the background holds the
# session, and its services, until stop_session.
start_session() {
  wineserver -p >/dev/null 2>&1
  WINEDEBUG="$2" wine wineboot.exe >/dev/null 2>"$1"
  WINEDEBUG=-all wine cmd.exe /c "ping -n 3600 127.0.0.1 >nul" >/dev/null 2>&1 &
  session_holder=$!
}

stop_session() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  wait "$session_holder" 2>/dev/null || true
}
