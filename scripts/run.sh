#!/usr/bin/env bash
# Installs what building and running need and is missing, builds Vantrel and runs it in this
# terminal, as the account that starts the script (not through sudo: it asks sudo itself for
# missing packages). Ctrl+C here or closing the terminal asks first while the show plays, as the
# close button does; SIGTERM to the script runs the program's safe quit.
# Usage: scripts/run.sh [arguments for the program]   (BUILD_DIR and JOBS may be set)
set -euo pipefail
packages=run
source "$(dirname "${BASH_SOURCE[0]}")/prepare-build.sh"

cmake --build "$build" -j "$jobs" --target VantrelProgram VantrelLauncher OrvaneVstHost

# The main program itself, as the launcher starts it (from its support folder), but in this
# script's place: it stays in the foreground of this terminal, so Ctrl+C reaches it, and the
# script's process id is the program's. (The launcher, shipped/Vantrel, would start it in a
# session of its own and return at once.)
cd "$build/shipped/support"
exec "$build/shipped/support/Vantrel" "$@"
