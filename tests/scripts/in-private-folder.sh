#!/usr/bin/env bash
# Runs a script test on a copy of the scripts and their tests inside a folder that only its owner
# may enter (mode 0700), where a clone in root's home lies: a test that runs the scripts as another
# account must work from what that account can read, wherever the clone is.
# Usage: tests/scripts/in-private-folder.sh SOURCE_ROOT TEST_SCRIPT_NAME [ARGUMENTS...]
set -uo pipefail
source_root=$1; test_script=$2; shift 2
private=$(mktemp -d); trap 'rm -rf "$private"' EXIT
chmod 700 "$private"
mkdir -p "$private/clone/tests" \
  && cp -a "$source_root/scripts" "$private/clone/" && cp -a "$source_root/tests/scripts" "$private/clone/tests/" \
  || { echo "FAIL: the copy into $private"; exit 1; }
echo "(run from $private/clone, a folder only $(id -un) may enter)"
bash "$private/clone/tests/scripts/$test_script" "$private/clone" "$@"
