#!/usr/bin/env bash
# Runs every benchmark of a build once, briefly, and prints its figures.
# Usage: scripts/bench.sh [build-dir]   (bench_ui_cpu measures 10 s idle and 10 s playing;
#        VANTREL_BENCH_UI_SECONDS=60 gives the full minute; bench_key_to_sound makes 10 GOs per
#        period, about 40 s in all, and VANTREL_BENCH_KEY_TRIALS=35 the full 35, about 80 s;
#        bench_output plays for 30 s, VANTREL_BENCH_OUTPUT_SECONDS=120 gives its full two minutes;
#        bench_idle_cpu measures 30 s at rest after a 15 s settle, as a user measures it, and 10 s
#        playing after 5 s, about a minute; VANTREL_BENCH_IDLE_FULL=1 measures playing as long)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/release}

shopt -s nullglob
for bench in "$build"/bench/bench_*; do
  [ -x "$bench" ] || continue
  name=$(basename "$bench")
  echo "== $name"
  extra=()
  if [ "$name" = bench_output ]; then
    extra=(--seconds="${VANTREL_BENCH_OUTPUT_SECONDS:-30}")
  fi
  "$bench" --benchmark_min_time=0.05 "${extra[@]}"
done
