# A Debian 12 container that boots a real systemd, for the tests of the Linux
# service (sourced, not run; needs root and tests/support/checks.sh). The
# root is scripts/build-systemd-root.sh's cache, never changed: the container
# runs on a throw-away overlay. It shares the machine's network.
#
#   make_work NAME                     makes the test's work directory $work
#                                      (tillwire-NAME.XXXXXX); when the
#                                      script exits, its background jobs (an
#                                      NVR) are ended, the container stopped
#                                      and $work removed
#   boot_container LOG NSPAWN_ARGS...  makes the root if needed, boots it with
#                                      the extra systemd-nspawn arguments (for
#                                      instance --bind=...), its console to
#                                      LOG, and waits until systemd has
#                                      finished booting; sets container_pid
#                                      (its systemd); false, with what it
#                                      knows on stderr, when it does not boot
#   in_container COMMAND...            runs a command inside, bounded in time
#   stop_container                     shuts the container down (killed after
#                                      20 s); safe to call when not booted

container_root="${TILLWIRE_SYSTEMD_ROOT:-/var/cache/tillwire/systemd-root}"
container_pid=""
nspawn_pid=""

make_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/tillwire-$1.XXXXXX")
  trap 'rc=$?; remove_work; exit $rc' EXIT
  trap 'exit 130' INT TERM
}

remove_work() {
  set +e
  kill $(jobs -p) 2>/dev/null
  stop_container
  rm -rf "$work"
}

in_container() { timeout 30 nsenter -t "$container_pid" -a "$@"; }

boot_container() {
  local console=$1 started
  shift
  "$(dirname "${BASH_SOURCE[0]}")/../../scripts/build-systemd-root.sh"
  started=$(date +%s)
  systemd-nspawn -D "$container_root" --volatile=overlay --register=no --keep-unit -b \
    --console=passive "$@" >"$console" 2>&1 &
  nspawn_pid=$!
  if ! wait_until 30 container_child; then
    echo "the container did not start:" >&2
    cat "$console" >&2
    return 1
  fi
  if ! wait_until 60 container_booted; then
    echo "the container's systemd did not finish booting:" >&2
    in_container systemctl list-jobs >&2 || true
    return 1
  fi
  echo "container booted in $(($(date +%s) - started))s"
}

# The container's systemd is the child of systemd-nspawn.
container_child() {
  container_pid=$(cat /proc/"$nspawn_pid"/task/*/children 2>/dev/null | awk '{ print $1 }')
  [ -n "$container_pid" ] && [ "$(cat /proc/"$container_pid"/comm 2>/dev/null)" = systemd ]
}

container_booted() {
  local state
  state=$(in_container systemctl is-system-running 2>/dev/null) || true
  [ "$state" = running ] || [ "$state" = degraded ]
}

stop_container() {
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    # systemd-nspawn turns TERM into an orderly shutdown of the container.
    kill -TERM "$nspawn_pid" 2>/dev/null
    local deadline=$((SECONDS + 20))
    while kill -0 "$nspawn_pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
      sleep 0.2
    done
    kill -KILL "$nspawn_pid" 2>/dev/null
    wait "$nspawn_pid" 2>/dev/null
  fi
  nspawn_pid=""
}
