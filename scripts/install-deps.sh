#!/usr/bin/env bash
# Installs the Debian packages that building and testing Tillwire need.
# Safe to run again: it refreshes the package lists once, only when something is missing.
set -euo pipefail
. "$(dirname "$0")/packages.sh"

packages=(
  build-essential cmake pkg-config
  libboost-thread-dev libboost-filesystem-dev libboost-system-dev libboost-date-time-dev
  libtinyxml-dev libpcap-dev libgtest-dev libbenchmark-dev libsystemd-dev
  iproute2 socat
  tcpreplay tcpdump  # the live capture benchmark
  dpkg-dev           # dpkg-buildflags: the hardening flags of every Linux build; the Debian package
  lintian            # the Debian package's check
  msitools wixl      # msiinfo and wixl: the Windows Installer package
)

install_packages "${packages[@]}"
# promtool (in prometheus) checks the metrics file and tests the alert rules;
# the tests run node_exporter themselves, on a loopback port of their own, so
# neither package's daemon is started by the install.
install_packages_unstarted prometheus prometheus-node-exporter
