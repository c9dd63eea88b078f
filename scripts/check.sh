#!/usr/bin/env bash
# The whole check that CI runs: Release and Debug build and tests, a build and
# test run under AddressSanitizer and UndefinedBehaviorSanitizer, the sample
# vault, and (where their tools are present) formatting, fuzzing, the browser
# and the thumbnail-service tests, each bounded in time.
#   scripts/check.sh            everything
#   QUARN_CHECK_QUICK=1 scripts/check.sh   the Release build and tests only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
step() { printf '\n=== %s\n' "$*"; }

build_and_test() {  # DIR, then cmake options
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DQUARN_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600
}

step "Release build and tests"
build_and_test build -DCMAKE_BUILD_TYPE=Release
step "Sample vault"
scripts/preview-examples build
[[ -n "${QUARN_CHECK_QUICK:-}" ]] && exit 0

step "Debug build and tests"
build_and_test build-debug -DCMAKE_BUILD_TYPE=Debug -DQUARN_BUILD_BENCHMARKS=OFF
step "AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions="$root/scripts/lsan.supp" \
  build_and_test build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_SANITIZE=address,undefined \
  -DQUARN_BUILD_BENCHMARKS=OFF

for extra in scripts/check.d/*; do
  [[ -x "$extra" ]] || continue
  step "$(basename "$extra")"
  "$extra"
done
echo
echo "check: all green"
