#!/usr/bin/env bash
# Installs what is missing, builds Vantrel and starts it from its shipped folder.
# Usage: scripts/run.sh [arguments for the program]   (BUILD_DIR and JOBS may be set)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/prepare-build.sh"

cmake --build "$build" -j "$jobs" --target VantrelProgram VantrelLauncher OrvaneVstHost

if [ -z "${DISPLAY:-}" ]; then
  echo "run: no DISPLAY is set; Vantrel needs an X display (e.g. a desktop session)" >&2
  exit 1
fi
# The launcher starts support/Vantrel and returns at once; the program runs on in its own session.
exec "$build/shipped/Vantrel" "$@"
