#!/usr/bin/env bash
# Under CI=true the shared test main turns a skipped test into a failure with the skip's reason;
# without CI a skip stays a skip, and under CI a binary whose tests all pass still passes.
# Usage: tests/scripts/skip-in-ci-test.sh SKIP_PROBE_BINARY
set -uo pipefail
probe=$1
out=$(mktemp); trap 'rm -f "$out"' EXIT
failures=0
fail() { echo "FAIL: $1"; cat "$out"; failures=$((failures + 1)); }

CI=true "$probe" > "$out" 2>&1; status=$?
[ "$status" != 0 ] || fail "under CI=true a skipped test left the exit status 0"
grep -q 'skipped in CI.*' "$out" && grep -q 'the tool vantrel-probe-tool is not installed' "$out" \
  || fail "under CI=true the failure does not carry the skip's reason"
grep -q '^\[  FAILED  \] SkipProbe.SkipsForAMissingTool' "$out" || fail "under CI=true the skipped test is not listed as failed"
! grep -q '\[  SKIPPED \]' "$out" || fail "under CI=true the output still says SKIPPED (ctest would count a skip)"
grep -q '^\[       OK \] SkipProbe.Passes' "$out" || fail "under CI=true the passing test is not reported as passed"

for ci in unset false; do
  if [ "$ci" = unset ]; then env -u CI "$probe" > "$out" 2>&1; else CI=$ci "$probe" > "$out" 2>&1; fi
  status=$?
  [ "$status" = 0 ] || fail "with CI $ci a skip failed the run"
  grep -q '^\[  SKIPPED \] SkipProbe.SkipsForAMissingTool' "$out" || fail "with CI $ci the skip is not reported as a skip"
done

CI=true "$probe" --gtest_filter=SkipProbe.Passes > "$out" 2>&1 || fail "under CI=true a binary without skips failed"

[ "$failures" = 0 ] && echo "ok: a skip fails under CI=true with its reason and stays a skip elsewhere"
exit "$failures"
