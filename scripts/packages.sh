# Shared by the dependency scripts (sourced, not run): Debian packages.
#
#   as_root=(...)        the command prefix for root's work: empty as root, sudo otherwise
#   apt_update           refreshes the package lists, once per run
#   install_packages P.. installs those of the packages that are not installed yet
#   install_packages_unstarted P..
#                        the same for packages that would start a daemon of their own:
#                        the install starts none (a policy-rc.d that refuses starts
#                        is put in place for it when the machine has none)

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive

apt_updated=0
apt_update() {
  if [ "$apt_updated" -eq 0 ]; then
    "${as_root[@]}" apt-get update -qq
    apt_updated=1
  fi
}

install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  printf 'installing %s\n' "${missing[*]}" >&2
  apt_update
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_packages_unstarted() {
  local policy=/usr/sbin/policy-rc.d
  if [ -e "$policy" ]; then
    install_packages "$@"
    return
  fi
  printf '#!/bin/sh\nexit 101\n' | "${as_root[@]}" tee "$policy" >/dev/null
  "${as_root[@]}" chmod 755 "$policy"
  local status=0
  install_packages "$@" || status=$?
  "${as_root[@]}" rm -f "$policy"
  return "$status"
}
