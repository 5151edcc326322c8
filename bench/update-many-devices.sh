#!/bin/sh
# Times `tavrix-update-cli update QI-2A3 --all` against 1, 4, 8 and 16 simulated 2A3 devices
# with their real waits, and prints a Markdown table: the wall time, its ratio to one device,
# and the host CPU (user + system of the program and its workers) per device.
# Usage: bench/update-many-devices.sh [BUILD-DIR]   (default: build)
set -eu
build=${1:-build}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
trap 'kill $devsim 2>/dev/null || true; rm -rf "$work"' EXIT
devsim=

echo "| devices | wall time | ratio to one | host CPU per device |"
echo "|---:|---:|---:|---:|"
single=
for count in 1 4 8 16; do
  rm -rf "$work/bus" && mkdir -p "$work/bus"
  set --
  i=1
  while [ "$i" -le "$count" ]; do
    set -- "$@" --device "2a:serial=B$i,variant=3,firmware=105"
    i=$((i + 1))
  done
  "$bin/tavrix-devsim" --bus "$work/bus" --wait-scale 1 "$@" > "$work/devsim.log" 2>&1 &
  devsim=$!
  while [ "$(grep -c '^serving' "$work/devsim.log" || true)" -lt "$count" ]; do sleep 0.05; done
  /usr/bin/time -f "%e %U %S" -o "$work/time" env TAVRIX_USB_BUS="$work/bus" TAVRIX_WAIT_SCALE=1 \
    "$bin/tavrix-update-cli" --yes update QI-2A3 --all > "$work/out" 2>&1 || {
    cat "$work/out" >&2
    exit 1
  }
  kill $devsim && wait $devsim 2>/dev/null || true
  read -r wall user system < "$work/time"
  [ -n "$single" ] || single=$wall
  awk -v n="$count" -v w="$wall" -v u="$user" -v s="$system" -v one="$single" \
    'BEGIN { printf "| %d | %.2f s | %.2f | %.0f ms |\n", n, w, w / one, 1000 * (u + s) / n }'
done
