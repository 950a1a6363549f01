#!/usr/bin/env bash
# What the Windows executable takes from where: the system's DLLs at load
# time, and the pcap functions of source/wpcap.def from wpcap.dll, late,
# through delay-load thunks, with no libpcap code linked in; and every one of
# those functions is exported by each wpcap.dll given (libpcap's own build,
# Wine's). And what its header asks of the loader: ASLR and DEP.
#
#   tests/wine/imports_test.sh tillwire.exe source/wpcap.def WPCAP_DLL...
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 tillwire.exe wpcap.def wpcap.dll..." >&2
  exit 2
fi
exe=$1 def=$2
shift 2
objdump=x86_64-w64-mingw32-objdump
nm=x86_64-w64-mingw32-nm
. "$(dirname "$0")/../support/checks.sh"

wanted=$(grep -E '^pcap_' "$def" | LC_ALL=C sort)

# Load-time imports: Windows' own DLLs only, so the program starts on a
# machine without a capture driver.
expect_text "load-time imports are the system's" \
  "$(printf '%s\n' ADVAPI32.dll KERNEL32.dll MSWSOCK.dll WS2_32.dll msvcrt.dll | LC_ALL=C sort)" \
  "$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | LC_ALL=C sort -u)"
# The only pcap functions in the image are the delay-load thunks of the
# imported names: libpcap's code would bring pcap_compile, pcap_create, ...
expect_text "pcap functions in the image are the delay-load thunks of wpcap.def" \
  "$wanted" "$("$nm" "$exe" | sed -n 's/^[0-9a-f]* T \(pcap_.*\)$/\1/p' | LC_ALL=C sort)"
expect_text "every function of wpcap.def is imported" \
  "$wanted" "$("$nm" "$exe" | sed -n 's/^[0-9a-f]* I __imp_\(pcap_.*\)$/\1/p' | LC_ALL=C sort)"

# The loader places the image at a random address, anywhere in 64 bits
# (DYNAMIC_BASE, HIGH_ENTROPY_VA), and never runs its data (NX_COMPAT).
expect_text "the image asks for ASLR and DEP" "$(printf '%s\n' DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT)" \
  "$("$objdump" -p "$exe" | sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/{/^[[:space:]]/s/[[:space:]]//gp}' |
    LC_ALL=C sort)"

for dll in "$@"; do
  exported=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p')
  expect_text "$dll exports every function of wpcap.def" "" \
    "$(LC_ALL=C comm -23 <(printf '%s\n' "$wanted") <(printf '%s\n' "$exported" | LC_ALL=C sort))"
done

if [ "$failures" -ne 0 ]; then
  echo "imports_test: $failures check(s) failed"
  exit 1
fi
echo "imports_test: all checks passed"
