#!/usr/bin/env bash
# Installs what is missing, builds, and opens the wizard on the bundled demo catalog: the Qt
# wizard on a display, the terminal front end without one.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build build --target tavrix-update tavrix-update-cli tavrix-devsim

# Simulated devices stand on an emulated USB bus of their own for this run.
bus=$(mktemp -d /tmp/tavrix-demo-bus.XXXXXX)
export TAVRIX_USB_BUS="$bus" TAVRIX_WAIT_SCALE="${TAVRIX_WAIT_SCALE:-0.1}"
cleanup() { rm -rf "$bus"; }
trap cleanup EXIT

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  build/bin/tavrix-update "$@"
else
  echo "No display: the terminal front end walks the demo catalog instead of the wizard."
  build/bin/tavrix-update-cli list
  first=$(build/bin/tavrix-update-cli list | head -n 1 | cut -f 1)
  build/bin/tavrix-update-cli --on-failure exit update "$first" || true
fi
