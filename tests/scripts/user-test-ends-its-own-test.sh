#!/usr/bin/env bash
# The user test ends only what it started: its user gets the uid of a process that another system
# on the machine runs (as a chroot's new user may share a uid with its host's), and that process
# outlives the test, while every process the test started as that user has ended.
# Usage: tests/scripts/user-test-ends-its-own-test.sh SOURCE_ROOT   (as root)
set -uo pipefail
source_root=$1
[ "$(id -u)" = 0 ] || { echo "SKIP: making a user needs root"; [ "${CI:-}" = true ] && exit 1; exit 77; }
# A uid that no account and no process holds.
for uid in $(shuf -i 50000-59999); do
  getent passwd "$uid" > /dev/null || [ -n "$(ps -o pid= -u "$uid")" ] || break
done
# The other system's process: this test's own child, in a session of its own.
setsid setpriv --reuid="$uid" --regid="$uid" --clear-groups sleep 3600 &
other=$!
trap 'kill "$other" 2> /dev/null' EXIT
for _ in $(seq 100); do [ "$(ps -o uid= -p "$other" | tr -d ' ')" = "$uid" ] && break; sleep 0.05; done

VANTREL_TEST_USER_UID=$uid VANTREL_TEST_USER_STEPS=servers bash "$source_root/tests/scripts/run-as-user-test.sh" "$source_root"
code=$?
[ "$code" = 77 ] && exit 77
failures=0
[ "$code" = 0 ] || { echo "FAIL: the user test failed (exit status $code)"; failures=$((failures + 1)); }
kill -0 "$other" 2> /dev/null || { echo "FAIL: the user test ended a process of uid $uid that it did not start"; failures=$((failures + 1)); }
left=$(ps -o pid=,comm= -u "$uid" | grep -v "^ *$other ")
[ -z "$left" ] || { echo "FAIL: processes the user test started outlived it: $left"; failures=$((failures + 1)); }
[ "$failures" = 0 ] && echo "ok: the process of uid $uid that the test did not start outlived it; the test's own ended"
[ "$failures" = 0 ]
