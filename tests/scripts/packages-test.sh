#!/usr/bin/env bash
# The package step against dpkg status files of other machines (this machine's packages with some
# taken away or changed), checked by apt's own simulation: on a stock PipeWire desktop (pipewire-audio
# and pipewire-alsa installed, stanzas from Debian 12) neither set removes or replaces anything, the
# run set holds no test tool and the test set leaves the PulseAudio daemon out; a server without
# PipeWire's audio set gets it; a package that apt would remove (JACK 1 on a JACK 2 library) or
# replace (an older library) stops the step, installs nothing and is named.
# Usage: tests/scripts/packages-test.sh SOURCE_ROOT
set -uo pipefail
root=$1
setup="$root/scripts/setup.sh"
desktop_stanzas="$root/tests/scripts/fixtures/pipewire-desktop.status"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $1"; sed 's/^/  | /' "$work/out"; failures=$((failures + 1)); }

# status NAME DROPPED... : this machine's status without the DROPPED packages' stanzas.
status() {
  local name=$1; shift
  awk -v drop=" $* " 'BEGIN { RS = ""; ORS = "\n\n" } { split($0, l, "\n"); p = l[1]; sub(/^Package: /, "", p); if (index(drop, " " p " ") == 0) print }' \
    /var/lib/dpkg/status > "$work/$name"
}
fixture_names=$(awk '/^Package: / { printf "%s ", $2 }' "$desktop_stanzas")
test_tools="xvfb xdotool jackd2 openbox sox pulseaudio libgtest-dev libgmock-dev"

status desktop $test_tools fonts-liberation2 $fixture_names
cat "$desktop_stanzas" >> "$work/desktop"
status server $test_tools fonts-liberation2 $fixture_names
# A JACK 1 machine: installing JACK 2's library would remove JACK 1's library and server.
status jack1 $test_tools jackd2 libjack-jackd2-0 libjack-jackd2-dev
cat "$root/tests/scripts/fixtures/jack1-server.status" >> "$work/jack1"
# An older JACK 2 library than its development files need: installing them would replace it.
status old-jack $test_tools libjack-jackd2-dev
sed -i '/^Package: libjack-jackd2-0$/,/^$/ s/1\.9\.21~dfsg-3/1.9.20~dfsg-1/g' "$work/old-jack"

# the status | the set | exit status | words the output holds | packages the plan must hold | it must not hold
cases='
desktop|test|0|pulseaudio is left out|xvfb xdotool jackd2 openbox sox libgtest-dev|pulseaudio
desktop|run|0|would install 1 packages|fonts-liberation2|xvfb xdotool jackd2 openbox sox pulseaudio libgtest-dev
server|test|0|would install|pulseaudio xvfb jackd2 fonts-liberation2|
jack1|run|1|libjack-jackd2-dev conflicts with: jackd1 (removed) libjack0 (removed)||
old-jack|run|1|libjack-jackd2-dev conflicts with: libjack-jackd2-0 (replaced)||
'
while IFS='|' read -r name set code words has lacks; do
  [ -n "$name" ] || continue
  label="$set set on the $name machine"
  VANTREL_DPKG_STATUS="$work/$name" bash "$setup" "$set" > "$work/out" 2>&1; status=$?
  plan=" $(sed -n 's/^setup: would install [0-9]* packages: //p' "$work/out") "
  if [ "$status" != "$code" ]; then fail "$label: exit status $status, not $code"; continue; fi
  said=$(grep -m1 -F "$words" "$work/out") || { fail "$label: the output lacks \"$words\""; continue; }
  bad=0
  for p in $has; do [[ "$plan" == *" $p "* ]] || { fail "$label: $p is not in the plan"; bad=1; }; done
  for p in $lacks; do [[ "$plan" != *" $p "* ]] || { fail "$label: $p is in the plan"; bad=1; }; done
  # apt's own word on the plan: nothing installed goes or changes.
  if [ "$code" = 0 ]; then
    LC_ALL=C apt-get -s -o "Dir::State::status=$work/$name" install --no-install-recommends $plan > "$work/apt" 2>&1 \
      || { cp "$work/apt" "$work/out"; fail "$label: apt cannot install the plan"; bad=1; }
    if grep -E '^Remv |^Inst [^ ]+ \[' "$work/apt" > "$work/out"; then fail "$label: apt would remove or replace"; bad=1; fi
  fi
  [ "$bad" = 0 ] && echo "ok: $label: $said"
done <<< "$cases"

# On this machine as it is, the step only reports (everything is installed wherever the tests run).
bash "$setup" test > "$work/out" 2>&1 && grep -q 'packages for "test" are installed' "$work/out" \
  || fail "the test set is not complete on this machine, or the step did more than report"

[ "$failures" = 0 ] || { echo "$failures cases failed"; exit 1; }
