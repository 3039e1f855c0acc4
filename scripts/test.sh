#!/usr/bin/env bash
# Installs what building, running and testing need and is missing (scripts/setup.sh test), builds
# Vantrel with its tests and benchmarks, runs them and pictures the main screen.
# Usage: scripts/test.sh   (BUILD_DIR and JOBS may be set; VANTREL_SKIP_BENCH=1 skips the benchmarks)
set -euo pipefail
bash "$(dirname "${BASH_SOURCE[0]}")/check-layers.sh"   # no file includes a header of a layer above its own
packages=test
source "$(dirname "${BASH_SOURCE[0]}")/prepare-build.sh"

# Each part below runs even after an earlier one failed, so that one run shows everything that is
# wrong; the run fails at the end, listing every failure.
failures=()
# failed_tests DIR: the tests that failed in ctest's last run in DIR, on one line.
failed_tests() { cut -d: -f2- "$1/Testing/Temporary/LastTestsFailed.log" 2> /dev/null | paste -sd ' ' -; }

built=true
cmake --build "$build" -j "$jobs" || { built=false; failures+=("the release build"); }

if $built && [ "${VANTREL_SKIP_BENCH:-0}" != "1" ]; then
  bash "$root/scripts/bench.sh" "$build" || failures+=("the benchmarks")
fi

if $built; then
  (cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 900) \
    || failures+=("release tests: $(failed_tests "$build")")
fi

# The tests again under AddressSanitizer and UBSan, with the thread-contract checks compiled in: a
# memory error, undefined behaviour or a broken thread contract fails the run (into build/asan;
# VANTREL_SKIP_ASAN=1 skips it).
if [ "${VANTREL_SKIP_ASAN:-0}" != "1" ]; then
  if (cd "$root" && cmake --preset asan "${launcher[@]}" && cmake --build --preset asan -j "$jobs"); then
    (cd "$root" && ctest --preset asan -j "$jobs" --timeout 900) \
      || failures+=("ASan/UBSan tests: $(failed_tests "$root/build/asan")")
  else
    failures+=("the asan build")
  fi
fi

# Pictures of the main screen for a look by eye, into build/screens/.
if $built; then
  BUILD_DIR=$build bash "$root/scripts/screens.sh" || failures+=("the screens")
fi

if [ ${#failures[@]} -gt 0 ]; then
  echo "test: these parts failed:" >&2
  printf 'test:   %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "test: every part passed"
