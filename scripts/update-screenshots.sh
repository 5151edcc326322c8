#!/usr/bin/env bash
# Runs the wizard in a real X server (Xvfb) against a simulated device, as the real-window test
# does, and copies the pictures the README shows from its framebuffer (build/screenshots/xvfb/)
# to docs/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build build --target tavrix_xvfb_tests tavrix_gui_tests
build/bin/tavrix_xvfb_tests >/dev/null
# No updater in the catalog reaches a remote device server yet, so the "Server Login" dialog
# comes from the offscreen dialog test until one does.
QT_QPA_PLATFORM=offscreen build/bin/tavrix_gui_tests --gtest_filter='NetDialogsTest.*' >/dev/null
mkdir -p docs/screenshots
cp build/screenshots/server_login_en.png docs/screenshots/server-login-dialog.png
for name in wizard-1-start-page wizard-2-flash-page wizard-3-progress-page wizard-4-done-page \
            language-selection-dialog interface-dialog firmware-update-window connect-dialog-found; do
  cp "build/screenshots/xvfb/${name}.png" "docs/screenshots/${name}.png"
done
echo "Screenshots: build/screenshots/xvfb/ (all), docs/screenshots/ (README)"
