#!/usr/bin/env bash
# Runs every benchmark of a build once, briefly, and prints its figures.
# Usage: scripts/bench.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/release}

shopt -s nullglob
for bench in "$build"/bench/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" --benchmark_min_time=0.05
done
