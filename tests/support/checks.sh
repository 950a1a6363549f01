# Reporting for the test scripts (sourced, not run): one line per check,
# PASS or FAIL, and the count of failures for the script's exit status.
#
#   pass WHAT, fail WHAT               report a check's outcome
#   check WHAT COMMAND...              passes when COMMAND succeeds
#   expect_text WHAT EXPECTED ACTUAL   passes when the texts are equal, else
#                                      shows how they differ
#   wait_until SECONDS COMMAND...      polls COMMAND until it succeeds; false
#                                      when the time runs out first
#   failures                           how many checks failed so far

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
expect_text() {
  if [ "$2" == "$3" ]; then
    pass "$1"
  else
    fail "$1"
    diff -u <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed -n '3,$s/^/    /p' || true
  fi
}
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}
