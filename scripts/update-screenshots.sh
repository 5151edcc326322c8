#!/usr/bin/env bash
# Runs the wizard in a real X server (Xvfb) against simulated devices, as the real-window test
# does, and copies the pictures the README shows from its framebuffer (build/screenshots/xvfb/)
# to docs/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build build --target tavrix_xvfb_tests
build/bin/tavrix_xvfb_tests >/dev/null
mkdir -p docs/screenshots
for name in wizard-1-start-page wizard-2-flash-page wizard-3-progress-page wizard-4-done-page \
            language-selection-dialog interface-dialog firmware-update-window connect-dialog-found \
            wizard-servo-progress-page wizard-servo-done-page-failed server-login-dialog \
            wizard-atmu-progress-page wizard-failure-cause; do
  cp "build/screenshots/xvfb/${name}.png" "docs/screenshots/${name}.png"
done
echo "Screenshots: build/screenshots/xvfb/ (all), docs/screenshots/ (README)"
