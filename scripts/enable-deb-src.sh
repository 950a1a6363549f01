#!/usr/bin/env bash
# Makes Debian's source packages available to apt-get source: turns on
# deb-src entries for Debian's own archives in the machine's apt sources
# (deb822 files, or the one-line sources.list) where they are missing, and
# refreshes the package lists when it changed something or the sources are
# not known yet. The registry's host is the one the machine already uses.
set -euo pipefail

. "$(dirname "$0")/packages.sh"

changed=0
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  # Debian's own archives only: other repositories may have no sources.
  grep -qE '^URIs:.*/debian(-security)?/?([[:space:]]|$)' "$f" || continue
  if grep -qE '^Types:[[:space:]]*deb[[:space:]]*$' "$f"; then
    "${as_root[@]}" sed -i -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb deb-src/' "$f"
    changed=1
  fi
done
f=/etc/apt/sources.list
debian_line='^deb[[:space:]].*/debian(-security)?/?[[:space:]]'
if [ -f "$f" ] && grep -qE "$debian_line" "$f" && ! grep -qE '^deb-src[[:space:]]' "$f"; then
  grep -E "$debian_line" "$f" | sed -E 's/^deb([[:space:]])/deb-src\1/' | "${as_root[@]}" tee -a "$f" >/dev/null
  changed=1
fi
if [ "$changed" -eq 1 ] || ! apt-cache showsrc tinyxml 2>/dev/null | grep -q '^Package:'; then
  apt_update
fi
