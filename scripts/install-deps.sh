#!/usr/bin/env bash
# Installs the Debian packages that building and testing Tillwire need.
# Safe to run again: it refreshes the package lists once, only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libboost-thread-dev libboost-filesystem-dev libboost-system-dev libboost-date-time-dev
  libtinyxml-dev libpcap-dev libgtest-dev libbenchmark-dev libsystemd-dev
  iproute2 socat
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update
  "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
