#!/usr/bin/env bash
# Makes a minimal Debian 12 root that boots a real systemd in a container, for
# running the Linux program as a systemd service in tests
# (tests/systemd/service_under_systemd.sh), in a cache outside the clone:
#
#   ${TILLWIRE_SYSTEMD_ROOT:-/var/cache/tillwire/systemd-root}
#
# The root holds systemd, D-Bus, the program's run-time libraries (Boost
# Thread, Filesystem, System and Date_Time 1.74, TinyXML, libpcap, libsystemd)
# and socat, which plays the NVR inside the container. Packages come from the
# mirror of the machine's own Debian apt source. The cache is never changed by
# a test run: tests boot it with a throw-away overlay on top.
#
# Running it again is cheap: a root stamped with the current recipe is left
# alone. Bump RECIPE when anything below changes what lands in the root.
# Needs root (debootstrap, chroot).
set -euo pipefail

RECIPE=1
SUITE=bookworm

root="${TILLWIRE_SYSTEMD_ROOT:-/var/cache/tillwire/systemd-root}"
stamp="$root/.tillwire-systemd-root-stamp"
export DEBCONF_NOWARNINGS=yes

log() { printf 'systemd-root: %s\n' "$*" >&2; }

if [ "$(id -u)" -ne 0 ]; then
  log "needs root (debootstrap, chroot)"
  exit 1
fi

# Host tools: debootstrap makes the root, systemd-nspawn (systemd-container)
# boots it.
. "$(dirname "$0")/packages.sh"
install_packages debootstrap systemd-container

root_packages=(
  systemd systemd-sysv dbus
  libboost-thread1.74.0 libboost-filesystem1.74.0 libboost-system1.74.0 libboost-date-time1.74.0
  libtinyxml2.6.2v5 libpcap0.8 libsystemd0
  socat
)

mkdir -p "$(dirname "$root")"
# Two runs at once would debootstrap into the same directory; the second
# waits and then finds the root complete.
exec 9>"$root.lock"
flock 9

if [ -f "$stamp" ] && [ "$(head -n1 "$stamp")" = "recipe=$RECIPE" ] && [ -x "$root/lib/systemd/systemd" ]; then
  log "root at $root is complete (recipe $RECIPE)"
  exit 0
fi

# The mirror of the machine's Debian source (not its security archive): the
# URIs of the first deb822 entry that lists the suite, else the first
# one-line "deb" entry of sources.list for it.
debian_mirror() {
  local f uri
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri=$(awk -v suite="$SUITE" '
      BEGIN { RS = ""; FS = "\n" }
      {
        uris = ""; suites = ""
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^URIs:/) { uris = $i; sub(/^URIs:[ \t]*/, "", uris) }
          if ($i ~ /^Suites:/) { suites = " " $i " " }
        }
        if (uris != "" && suites ~ ("[ \t]" suite "[ \t]")) { split(uris, u, /[ \t]+/); print u[1]; exit }
      }' "$f")
    if [ -n "$uri" ]; then
      echo "$uri"
      return
    fi
  done
  if [ -f /etc/apt/sources.list ]; then
    awk -v suite="$SUITE" '$1 == "deb" && $3 == suite { print $2; exit }' /etc/apt/sources.list
  fi
}
mirror=$(debian_mirror)
if [ -z "$mirror" ]; then
  log "no apt source for $SUITE on this machine"
  exit 1
fi

started=$(date +%s)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tillwire-systemd-root.XXXXXX")
on_exit() {
  local rc=$?
  if [ "$rc" -ne 0 ] && [ -f "$scratch/build.log" ]; then
    log "failed; last lines of the build log:"
    tail -n 40 "$scratch/build.log" >&2
  fi
  # A root left half-made is made again next time.
  [ "$rc" -eq 0 ] || rm -f "$stamp"
  rm -rf "$scratch"
  exit "$rc"
}
trap on_exit EXIT

# Start from an empty directory, but never wipe one this script didn't make.
marker="$root/.tillwire-systemd-root"
if [ -d "$root" ] && [ -n "$(ls -A "$root")" ] && [ ! -e "$marker" ]; then
  log "$root exists and was not made by this script; refusing to empty it"
  exit 1
fi
rm -rf "$root"
mkdir -p "$root"

log "debootstrap $SUITE from $mirror"
debootstrap --variant=minbase "$SUITE" "$root" "$mirror" >"$scratch/build.log" 2>&1
touch "$marker"

log "installing ${root_packages[*]}"
{
  chroot "$root" apt-get update -qq
  chroot "$root" apt-get install -y -qq --no-install-recommends "${root_packages[@]}"
  chroot "$root" apt-get clean
} >>"$scratch/build.log" 2>&1
# The container shares the machine's network: nothing in it may configure
# the network or take the machine's console.
for unit in systemd-networkd.service systemd-resolved.service systemd-timesyncd.service \
            console-getty.service getty@.service; do
  chroot "$root" systemctl mask "$unit" >>"$scratch/build.log" 2>&1
done

{
  echo "recipe=$RECIPE"
  echo "mirror=$mirror"
  chroot "$root" dpkg-query -W -f='${Package}=${Version}\n' "${root_packages[@]}"
} >"$stamp"
log "built $root in $(( $(date +%s) - started ))s"
