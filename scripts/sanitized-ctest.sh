#!/usr/bin/env bash
# Runs ctest in a sanitizer build: scripts/sanitized-ctest.sh BUILD-FOLDER [CTEST ARGUMENTS...].
# Every sanitizer report, the ones of the programs the tests start included (a test may not look
# at a child's exit code, nor at its standard error), is written to a file of its own in
# BUILD-FOLDER/sanitizer-reports; any such file fails the run, after its text is shown.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
shift
reports="$PWD/$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
status=0
ASAN_OPTIONS="detect_leaks=1:log_path=$reports/asan" \
LSAN_OPTIONS="suppressions=$PWD/.ci/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan" \
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/.ci/tsan.supp:log_path=$reports/tsan" \
  ctest --test-dir "$build" --output-on-failure --timeout 900 -j "$(nproc)" "$@" || status=$?
if [ -n "$(ls -A "$reports")" ]; then
  for report in "$reports"/*; do
    echo "-- $report"
    cat "$report"
  done
  echo "sanitizer reports in $reports" >&2
  exit 1
fi
exit "$status"
