#!/usr/bin/env bash
# Builds the Windows Installer package (packaging/windows/Tillwire.wxs) with
# wixl from a Windows build directory that holds tillwire.exe and package/
# (scripts/package-windows.sh's), under the given version: the project's, or
# the next one for the upgrade test.
#
#   scripts/make-msi.sh BUILD_DIR VERSION OUTPUT.msi
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1 version=$2
output=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
# Windows Installer compares the first three fields of a version: a package
# replaces every version below the next third field.
IFS=. read -r major minor patch _ <<<"$version"
cd "$build"
wixl -a x64 -D Version="$version" -D UpgradeBelow="$major.$minor.$((patch + 1))" \
  -o "$output" "$top/packaging/windows/Tillwire.wxs"
# wixl knows no Execute="rollback" and writes such an action as an immediate
# one, which Windows Installer runs at once and never on a rollback. A
# rollback action carries the in-script (0x400) and rollback (0x100) bits
# beside no-impersonation (0x800), continue-on-error (0x40) and "an
# installed program" (18): 3410.
msibuild "$output" -q "UPDATE CustomAction SET Type = 3410 WHERE Action = 'RegisterRollback'"
