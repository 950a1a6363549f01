#!/usr/bin/env bash
# The bundled demo: Tillwire replays a capture of a small shop's network
# (demo/Tillwire.xml describes the shop) and hands each terminal's receipts to
# the NVR that watches it. Installs what the build needs, builds tillwire and
# make_demo_capture into build/ (or $TILLWIRE_BUILD_DIR), plays the capture in
# a temporary program directory with one NVR client per watched terminal,
# then shows what each NVR received, the playback report and the program log.
# Before the playback it shows the survey of the capture, with the Terminal
# line it suggests for the till that Tillwire.xml does not name yet.
# Exits 0 only when every NVR received exactly its terminal's bytes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TILLWIRE_BUILD_DIR:-$top/build}
run_limit=60  # seconds: ten for the NVRs to connect, the replay takes well under one

work=$(mktemp -d "${TMPDIR:-/tmp}/tillwire-demo.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

heading() { printf '\n=== %s ===\n' "$*"; }
# Receipt paper: the text indented behind a margin, runs of blank lines as one.
paper() { cat -s "$1" | sed 's/^/    | /; s/ $//'; }
# The filters of the terminal that owns an NvrPort, as written in Tillwire.xml.
filters() {
  grep -o "<Terminal [^>]*NvrPort=\"$1\"" "$program/Tillwire.xml" |
    sed 's/<Terminal //; s/ *NvrPort=.*//; s/"//g'
}

"$top/scripts/install-deps.sh"
echo "Building tillwire and make_demo_capture in $build (the first build takes a minute or two) ..."
if ! { cmake -S "$top" -B "$build" &&
       cmake --build "$build" -j"$(nproc)" --target tillwire make_demo_capture; } \
     >"$work/build.log" 2>&1; then
  tail -n 30 "$work/build.log"
  echo "The build failed; the lines above are the end of its output."
  exit 1
fi

# The program directory: tillwire, its Tillwire.xml, and the capture to replay.
program="$work/program"
mkdir -p "$program" "$work/expected"
cp "$build/tillwire" "$top/demo/Tillwire.xml" "$program/"
"$build/make_demo_capture" "$program/demo.pcap" --expected "$work/expected"

mapfile -t all_ports < <(grep -o 'NvrPort="[0-9]*"' "$program/Tillwire.xml" | tr -dc '0-9\n')
watched_ports=()  # those with an expected file: their NVRs connect
for file in "$work"/expected/expected-*.txt; do
  port=${file##*-}
  watched_ports+=("${port%.txt}")
done

heading "Survey of demo.pcap: what the mirror port carries, and which terminal takes it"
(cd "$program" && ./tillwire -survey demo.pcap)

echo
echo "Starting Tillwire on demo.pcap. It gives the NVRs ten seconds to connect, then replays."
(cd "$program" && exec timeout "$run_limit" ./tillwire -f demo.pcap >stdout.txt 2>&1) &
tillwire_pid=$!
pids+=("$tillwire_pid")
for port in "${watched_ports[@]}"; do
  timeout "$((run_limit + 10))" socat -u "TCP:127.0.0.1:$port,retry=50,interval=0.2" \
    "CREATE:$work/nvr-$port.txt" 2>/dev/null &
  pids+=("$!")
done
echo "NVRs connecting on ports ${watched_ports[*]} ..."

status=0
wait "$tillwire_pid" || status=$?
wait || true  # the NVR clients end when Tillwire closes their connections

for port in "${all_ports[@]}"; do
  if [ -f "$work/expected/expected-$port.txt" ]; then
    heading "NVR on port $port received (terminal $(filters "$port"))"
    if [ -s "$work/nvr-$port.txt" ]; then paper "$work/nvr-$port.txt"; else echo "    (nothing)"; fi
  else
    heading "Port $port (terminal $(filters "$port")): no NVR connected, bytes dropped"
  fi
done

heading "Tillwire's console: the playback report"
cat "$program/stdout.txt"

heading "Tillwire.log"
cat "$program/Tillwire.log" 2>/dev/null || echo "(no log written)"

heading "Result"
failed=0
if [ "$status" -ne 0 ]; then
  echo "Tillwire ended with status $status (124: still running after ${run_limit}s, and stopped)."
  failed=1
fi
for port in "${watched_ports[@]}"; do
  expected="$work/expected/expected-$port.txt"
  received="$work/nvr-$port.txt"
  if cmp -s "$expected" "$received"; then
    echo "Port $port: OK, $(wc -c <"$expected") bytes, exactly what the terminal sent."
  else
    echo "Port $port: WRONG, received $(wc -c <"$received" 2>/dev/null || echo 0) bytes," \
      "expected $(wc -c <"$expected")."
    failed=1
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "The demo FAILED."
  exit 1
fi
echo "Every NVR received exactly its terminal's receipts; nothing else got through."
