#!/usr/bin/env bash
# The whole check that CI runs, as a list of CMake presets (CMakePresets.json):
# each is configured, built and tested with its CTest preset, every test
# bounded in time.
#   release  unit tests, hostile inputs (slow), format and tokens (lint), the
#            sample vault (examples), Chromium (browser), tumbler and GNOME's
#            thumbnail factory (desktop)
#   debug, asan   unit tests and hostile inputs
#   tsan     overlapping renders and thumbnails under ThreadSanitizer (clang)
#   fuzz     each libFuzzer target for QUARN_FUZZ_SECONDS (default 60; clang)
#
#   scripts/check.sh                        every preset
#   scripts/check.sh debug asan             just those
#   QUARN_CHECK_QUICK=1 scripts/check.sh    the release build and its unit tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
step() { printf '\n=== %s\n' "$*"; }

presets=("$@")
((${#presets[@]})) || presets=(release debug asan tsan fuzz)
if [[ -n "${QUARN_CHECK_QUICK:-}" ]]; then
  step "release: build and unit tests"
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$jobs"
  ctest --preset unit -j "$jobs"
  exit 0
fi

for preset in "${presets[@]}"; do
  step "$preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  step "$preset: tests"
  ctest --preset "$preset" -j "$jobs"
done
echo
echo "check: all green"
