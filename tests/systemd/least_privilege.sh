# What the running service may do, as the kernel and systemd see it (sourced,
# not run; needs tests/support/checks.sh and tests/systemd/container.sh, and
# Tillwire.service running in the container):
#
#   check_least_privilege   its process runs as the user tillwire with
#                           CAP_NET_RAW as its only capability and no way to
#                           gain another; it can write its log directory and
#                           nothing of the system or the program;
#                           systemd-analyze security rates the unit's
#                           exposure at most 2.0 (the figure is in the line)

# CAP_NET_RAW (capability 13) alone, as /proc/PID/status shows a set.
readonly raw_capture_only=0000000000002000
readonly exposure_limit=2.0

# status_field PID FIELD: the values of one line of /proc/PID/status.
status_field() {
  in_container awk -v field="$2:" '$1 == field { $1 = ""; print substr($0, 2) }' "/proc/$1/status"
}

# writable_in PID PATH: whether the service's own view of the file system
# (its mount namespace) lets root write in the directory PATH.
writable_in() {
  in_container nsenter -t "$1" -m sh -c "touch '$2/.tillwire-probe' 2>/dev/null && rm '$2/.tillwire-probe'"
}

check_least_privilege() {
  local pid uid exposure path
  pid=$(in_container systemctl show -p MainPID --value Tillwire.service)
  uid=$(in_container id -u tillwire)
  expect_text "the service runs as the user tillwire, not root (real, effective, saved, file system)" \
    "$uid $uid $uid $uid" "$(status_field "$pid" Uid | tr '\t' ' ')"
  for set in CapEff CapPrm CapBnd CapAmb; do
    expect_text "its $set is CAP_NET_RAW alone" "$raw_capture_only" "$(status_field "$pid" "$set")"
  done
  expect_text "it cannot gain privileges (NoNewPrivs)" 1 "$(status_field "$pid" NoNewPrivs)"
  check "it can write its log directory" writable_in "$pid" /var/log/tillwire
  for path in /opt/tillwire /etc /var/lib /usr; do
    check "it cannot write $path" eval "! writable_in $pid $path"
  done
  exposure=$(in_container systemd-analyze security --no-pager Tillwire.service |
    sed -n 's/.*Overall exposure level for Tillwire.service: \([0-9.]*\).*/\1/p')
  check "systemd-analyze security: exposure ${exposure:-unknown} (at most $exposure_limit)" \
    awk -v e="$exposure" -v limit="$exposure_limit" 'BEGIN { exit !(e != "" && e <= limit) }'
}
