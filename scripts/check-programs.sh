#!/usr/bin/env bash
# Fails when a shipped program contains code of the test-support library: the functions that
# library defines must only ever be linked into tests and benchmarks.
# Usage: scripts/check-programs.sh TEST_SUPPORT_LIBRARY PROGRAM...
set -euo pipefail
library=$1; shift
[ -f "$library" ] || { echo "check-programs: no library $library"; exit 2; }
defined=$(mktemp); trap 'rm -f "$defined"' EXIT
nm --defined-only --extern-only "$library" 2>/dev/null | awk '$2 == "T" { print $3 }' | sort -u > "$defined"
[ -s "$defined" ] || { echo "check-programs: $library defines no functions"; exit 2; }
status=0
for program in "$@"; do
  [ -x "$program" ] || { echo "check-programs: $program is not a program"; exit 2; }
  shared=$(nm --defined-only "$program" | awk '{ print $3 }' | sort -u | comm -12 - "$defined" | grep -v '^_ZN5juce\|^_ZNK5juce\|^_ZNSt\|^_ZNKSt\|^_ZSt' || true)
  if [ -n "$shared" ]; then
    echo "check-programs: $(basename "$program") contains test-support code:"
    echo "$shared" | c++filt | head -20
    status=1
  else
    echo "check-programs: $(basename "$program") holds none of the $(wc -l < "$defined") test-support functions"
  fi
done
exit $status
