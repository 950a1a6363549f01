#!/usr/bin/env bash
# Builds the fuzz targets with Debian's clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time. A finding (a
# sanitizer report, a failed check, a crash, a hang) fails the run; its input
# stays in BUILD_DIR/findings/<target>/. Keep it by copying it to
# tests/fuzz/<target>/found/, where every build replays it as a test.
#
# TinyXML is compiled into the fuzz build from Debian's source package (cached
# outside the clone), so that the sanitizers see the parser's reads too.
#
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET [TARGET...]]
#   defaults: 60 seconds; the targets frame, payload and configuration
# The build directory is ${TILLWIRE_FUZZ_BUILD:-build-fuzz}.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(frame payload configuration)
build=${TILLWIRE_FUZZ_BUILD:-$top/build-fuzz}
source_cache=${TILLWIRE_TINYXML_SOURCE_CACHE:-/var/cache/tillwire/tinyxml-src}

. "$top/scripts/packages.sh"
"$top/scripts/install-deps.sh"
install_packages clang libclang-rt-dev dpkg-dev

# TinyXML's Debian source, unpacked once, for the version the machine has.
# Two runs at once (a developer and CI) take turns; a folder that this script
# did not make (no version stamp) is never replaced.
tinyxml_version=$(dpkg-query -W -f='${source:Version}' libtinyxml-dev)
"${as_root[@]}" mkdir -p "$(dirname "$source_cache")"
exec 9>"$source_cache.lock"
flock 9
if [ "$(cat "$source_cache/.tillwire-version" 2>/dev/null)" != "$tinyxml_version" ]; then
  if [ -e "$source_cache" ] && [ ! -e "$source_cache/.tillwire-version" ]; then
    echo "fuzz: $source_cache was not made by this script; refusing to replace it" >&2
    exit 1
  fi
  "$top/scripts/enable-deb-src.sh"
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/tillwire-tinyxml.XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
  (cd "$scratch" && apt-get source -qq "tinyxml=$tinyxml_version" >/dev/null)
  "${as_root[@]}" rm -rf "$source_cache"
  "${as_root[@]}" mv "$(echo "$scratch"/tinyxml-*/)" "$source_cache"
  echo "$tinyxml_version" | "${as_root[@]}" tee "$source_cache/.tillwire-version" >/dev/null
fi
exec 9>&-

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTILLWIRE_FUZZ=ON -DTILLWIRE_TESTS=OFF -DTILLWIRE_TINYXML_SOURCE="$source_cache" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/%/_fuzzer}"

failed=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"      # what the fuzzer finds, kept between runs
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  inputs=("$corpus" "$top/tests/fuzz/$target/seeds")
  [ -d "$top/tests/fuzz/$target/found" ] && inputs+=("$top/tests/fuzz/$target/found")
  echo "fuzz: $target for ${seconds}s"
  started=$(date +%s)
  # From the target's own directory: the program log is written beside it.
  if (cd "$build/tests/fuzz/${target}_fuzzer" &&
      "./${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -max_len=4096 \
        -print_final_stats=1 -artifact_prefix="$findings/" "${inputs[@]}" \
        >"$build/fuzz-$target.log" 2>&1); then
    grep -E '^stat::number_of_executed_units' "$build/fuzz-$target.log" || true
    echo "fuzz: $target: no finding in $(($(date +%s) - started))s"
  else
    # The report (sanitizer or failed check) and where the input went.
    grep -m1 -A20 -E 'ERROR: |check failed|deadly signal' "$build/fuzz-$target.log" || true
    grep -E '^SUMMARY|Test unit written' "$build/fuzz-$target.log" || true
    echo "fuzz: $target: FINDING after $(($(date +%s) - started))s; input in $findings/"
    failed+=("$target")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzz: findings in ${failed[*]}"; exit 1; }
