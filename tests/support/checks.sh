# Reporting for the test scripts (sourced, not run): one line per check,
# PASS or FAIL, and the count of failures for the script's exit status.
#
#   pass WHAT, fail WHAT   report a check's outcome
#   check WHAT COMMAND...  passes when COMMAND succeeds
#   failures               how many checks failed so far

failures=0
pass() { printf 'PASS: %s\n' "$1"; }
fail() {
  printf 'FAIL: %s\n' "$1"
  failures=$((failures + 1))
}
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
