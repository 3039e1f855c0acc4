#!/usr/bin/env bash
# Runs every benchmark of a build once, briefly, and prints its figures.
# Usage: scripts/bench.sh [build-dir]   (bench_ui_cpu measures 10 s idle and 10 s playing;
#        VANTREL_BENCH_UI_SECONDS=60 gives the full minute)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/release}

shopt -s nullglob
for bench in "$build"/bench/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" --benchmark_min_time=0.05
done
