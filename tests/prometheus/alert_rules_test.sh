#!/usr/bin/env bash
# The shipped alert rules, checked and unit-tested with promtool (Debian's
# prometheus package, which scripts/install-deps.sh installs): which alerts
# fire and which do not (tillwire-alerts.test.yml). Exits 77, skipped,
# without promtool.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v promtool >/dev/null; then
  echo "skipped: promtool not found (Debian package prometheus; scripts/install-deps.sh installs it)"
  exit 77
fi
promtool check rules "$here/../../packaging/prometheus/tillwire-alerts.yml"
cd "$here"
promtool test rules tillwire-alerts.test.yml
