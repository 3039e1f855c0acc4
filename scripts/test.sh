#!/usr/bin/env bash
# Installs what building, running and testing need and is missing (scripts/setup.sh test), builds
# Vantrel with its tests and benchmarks, runs them and pictures the main screen.
# Usage: scripts/test.sh   (BUILD_DIR and JOBS may be set; VANTREL_SKIP_BENCH=1 skips the benchmarks)
set -euo pipefail
bash "$(dirname "${BASH_SOURCE[0]}")/check-layers.sh"   # no file includes a header of a layer above its own
packages=test
source "$(dirname "${BASH_SOURCE[0]}")/prepare-build.sh"

cmake --build "$build" -j "$jobs"

if [ "${VANTREL_SKIP_BENCH:-0}" != "1" ]; then
  bash "$root/scripts/bench.sh" "$build"
fi

(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 900)

# The tests again under AddressSanitizer and UBSan, with the thread-contract checks compiled in: a
# memory error, undefined behaviour or a broken thread contract fails the run (into build/asan;
# VANTREL_SKIP_ASAN=1 skips it).
if [ "${VANTREL_SKIP_ASAN:-0}" != "1" ]; then
  (cd "$root" && cmake --preset asan "${launcher[@]}" && cmake --build --preset asan -j "$jobs" && ctest --preset asan -j "$jobs" --timeout 900)
fi

# Pictures of the main screen for a look by eye, into build/screens/.
BUILD_DIR=$build bash "$root/scripts/screens.sh"
