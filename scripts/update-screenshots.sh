#!/usr/bin/env bash
# Renders the wizard's windows with the offscreen Qt platform (build/screenshots/, English and
# Russian) and copies the English pictures the README shows to docs/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build build --target tavrix_gui_tests
QT_QPA_PLATFORM=offscreen build/bin/tavrix_gui_tests >/dev/null
mkdir -p docs/screenshots
while read -r shot name; do
  cp "build/screenshots/${shot}.png" "docs/screenshots/${name}.png"
done <<'LIST'
quadrel_1_start_page_en wizard-1-start-page
quadrel_2_flash_page_en wizard-2-flash-page
wizard_3_progress_page_en wizard-3-progress-page
quadrel_4_done_page_en wizard-4-done-page
language_dialog_en language-selection-dialog
quadrel_animation_window_en firmware-update-window
interface_dialog_en interface-dialog
LIST
echo "Screenshots: build/screenshots/ (all), docs/screenshots/ (README)"
