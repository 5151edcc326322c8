#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, build-fuzz/) and gives each a short run: first a replay
# of its seed corpus in fuzz/corpus/<target>/, then a brief search from it. New inputs found
# on the way go to a scratch folder, never into the seed corpus. Any crash, sanitizer report
# or broken check fails the script. A longer search: FUZZ_SECONDS=600 scripts/fuzz-replay.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz
budget=${FUZZ_BUDGET:-60}  # seconds of search shared by all targets

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DTAVRIX_BUILD_FUZZ=ON >/dev/null

targets=()
for source in fuzz/*_fuzz.cpp; do
  [ -e "$source" ] || continue
  targets+=("$(basename "$source" .cpp)")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets"
  exit 0
fi
cmake --build "$build" --target "${targets[@]}"

seconds=${FUZZ_SECONDS:-$(( budget / ${#targets[@]} ))}
[ "$seconds" -ge 5 ] || seconds=5
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  corpus=fuzz/corpus/$target
  mkdir -p "$scratch/$target"
  seeds=()
  [ -d "$corpus" ] && seeds+=("$corpus")
  echo "== $target: replay ${seeds[*]:-(no seed corpus)}"
  if [ ${#seeds[@]} -gt 0 ]; then
    "$build/bin/$target" -runs=0 "${seeds[@]}" 2>&1 | tail -n 2
  fi
  echo "== $target: ${seconds}s search"
  "$build/bin/$target" -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=2048 \
    -artifact_prefix="$scratch/$target-" "$scratch/$target" "${seeds[@]}" 2>&1 | tail -n 2
done
echo "== fuzz targets: no findings"
