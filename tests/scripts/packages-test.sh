#!/usr/bin/env bash
# The package step against dpkg status files of other machines, made from this machine's own status
# with packages taken away (with whatever installed needs them) and versions taken back, checked by
# apt's own simulation with --no-remove. It never installs anything.
# - On a stock PipeWire desktop (pipewire-audio and pipewire-alsa installed, stanzas from Debian 12)
#   neither set removes or changes anything, the run set holds no test tool and the test set leaves
#   the PulseAudio daemon out; a server without PipeWire's audio set gets it.
# - A machine a few updates behind (libraries at their first Debian 12 versions, their development
#   packages not installed) passes both sets, and the upgrades apt makes are named.
# - A removal (JACK 1 on a JACK 2 library) or a downgrade (a pinned older library) stops the step,
#   and the package that brings it is named.
# - Without root and without sudo the step prints the commands to run as root and stops.
# Usage: tests/scripts/packages-test.sh SOURCE_ROOT
set -uo pipefail
root=$1
setup="$root/scripts/setup.sh"
desktop_stanzas="$root/tests/scripts/fixtures/pipewire-desktop.status"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
failures=0
fail() { echo "FAIL: $1"; sed 's/^/  | /' "$work/out"; failures=$((failures + 1)); }

# status NAME DROPPED... : this machine's status without the DROPPED packages and every installed
# package that cannot stand without them (Depends and Pre-Depends, alternatives counted).
status() {
  local name=$1; shift
  python3 - "$work/$name" "$@" <<'PY'
import re, sys
stanzas = [s for s in open('/var/lib/dpkg/status').read().split('\n\n') if s.strip()]
def fields(stanza):
    out, key = {}, None
    for line in stanza.split('\n'):
        if line.startswith((' ', '\t')) and key: out[key] += line; continue
        key, _, value = line.partition(':'); out[key] = value.strip()
    return out
needs = {}
for stanza in stanzas:
    f = fields(stanza)
    groups = [d for field in ('Depends', 'Pre-Depends') for d in f.get(field, '').split(',') if d.strip()]
    needs[f['Package']] = [[re.sub(r'[\s(:].*', '', a.strip()) for a in g.split('|')] for g in groups]
drop = set(sys.argv[2:])
while True:
    more = {p for p, groups in needs.items() if p not in drop and any(all(a in drop for a in g) for g in groups)}
    if not more: break
    drop |= more
with open(sys.argv[1], 'w') as out:
    for stanza in stanzas:
        if fields(stanza)['Package'] not in drop: out.write(stanza.strip('\n') + '\n\n')
PY
}
# set_version NAME PACKAGE VERSION: the package's installed version in that status.
set_version() {
  sed -i "/^Package: $2\$/,/^\$/ s/^Version: .*/Version: $3/" "$work/$1"
}
# The oldest and the newest version apt's lists know of a package (the release's first, the current).
oldest() { apt-cache madison "$1" | awk -F'|' '{ gsub(/ /, "", $2); print $2 }' | sort -V | head -1; }
newest() { apt-cache madison "$1" | awk -F'|' '{ gsub(/ /, "", $2); print $2 }' | sort -V | tail -1; }

fixture_names=$(awk '/^Package: / { printf "%s ", $2 }' "$desktop_stanzas")
test_tools="xvfb xdotool jackd2 openbox sox pulseaudio libgtest-dev libgmock-dev"
behind_libs="libzstd1 libpcre2-8-0"

status desktop $test_tools fonts-liberation2 $fixture_names
cat "$desktop_stanzas" >> "$work/desktop"
status server $test_tools fonts-liberation2 $fixture_names
# A machine behind the archive: the libraries at their first Debian 12 versions, their development
# packages (and what needs them) not installed.
status behind $test_tools libzstd-dev libpcre2-dev
upgrades=""   # one "NAME (OLD -> NEW)" a line
for lib in $behind_libs; do
  from=$(oldest "$lib"); to=$(newest "$lib")
  if [ -z "$from" ] || [ "$from" = "$to" ]; then
    echo "FAIL: apt's lists know one version of $lib only (${to:-none}); run apt-get update"; exit 1
  fi
  set_version behind "$lib" "$from"
  upgrades+="$lib ($from -> $to)"$'\n'
done
# A JACK 1 machine: installing JACK 2's library would remove JACK 1's library and server.
status jack1 $test_tools jackd2 libjack-jackd2-0 libjack-jackd2-dev
cat "$root/tests/scripts/fixtures/jack1-server.status" >> "$work/jack1"
# A machine whose apt is pinned to the first version of a library newer than that is installed:
# installing its development package would downgrade it.
status pinned libzstd-dev
zstd_new=$(newest libzstd1); zstd_old=$(oldest libzstd1)
set_version pinned libzstd1 "$zstd_new"
printf 'Package: libzstd1 libzstd-dev\nPin: version %s\nPin-Priority: 1001\n' "$zstd_old" > "$work/pinned.pref"
printf 'Dir::Etc::Preferences "%s";\nDir::Etc::PreferencesParts "%s";\n' "$work/pinned.pref" "$work/none" > "$work/pinned.conf"
# This machine as it is.
cp /var/lib/dpkg/status "$work/here"

# the status | the set | exit status | words the output holds | packages the plan must hold | it must not hold
cases="
desktop|test|0|pulseaudio is left out|xvfb xdotool jackd2 openbox sox libgtest-dev|pulseaudio
desktop|run|0|would install 1 packages|fonts-liberation2|xvfb xdotool jackd2 openbox sox pulseaudio libgtest-dev
server|test|0|would install|pulseaudio xvfb jackd2 fonts-liberation2|
behind|run|0|to their current Debian 12 versions|juce-modules-source libpulse-dev|xvfb
behind|test|0|to their current Debian 12 versions|juce-modules-source libpulse-dev xvfb libgtest-dev|
jack1|run|1|libjack-jackd2-dev would bring: jackd1 (removed) libjack0 (removed)||
pinned|run|1|would bring: libzstd1 (downgraded from $zstd_new to $zstd_old)||
here|test|0|packages for \"test\" are installed||
"
while IFS='|' read -r name set code words has lacks; do
  [ -n "$name" ] || continue
  label="$set set on the $name machine"
  config=(); [ -f "$work/$name.conf" ] && config=(env "APT_CONFIG=$work/$name.conf")
  "${config[@]}" env VANTREL_DPKG_STATUS="$work/$name" bash "$setup" "$set" > "$work/out" 2>&1; status=$?
  plan=" $(sed -n 's/^setup: would install [0-9]* packages: //p' "$work/out") "
  if [ "$status" != "$code" ]; then fail "$label: exit status $status, not $code"; continue; fi
  said=$(grep -m1 -F "$words" "$work/out") || { fail "$label: the output lacks \"$words\""; continue; }
  bad=0
  for p in $has; do [[ "$plan" == *" $p "* ]] || { fail "$label: $p is not in the plan"; bad=1; }; done
  for p in $lacks; do [[ "$plan" != *" $p "* ]] || { fail "$label: $p is in the plan"; bad=1; }; done
  if [ "$name" = behind ]; then
    named=" $(grep -F 'to their current Debian 12 versions' "$work/out") "
    while read -r u; do
      [[ "$named" == *" $u "* ]] || { fail "$label: the upgrade $u is not named"; bad=1; }
    done <<< "${upgrades%$'\n'}"
  fi
  # apt's own word on a plan that passes: with --no-remove it goes through, and nothing installed is
  # removed or made older.
  if [ "$code" = 0 ] && [ "$plan" != "  " ]; then
    LC_ALL=C apt-get -s -o "Dir::State::status=$work/$name" -o Debug::NoLocking=1 install --no-install-recommends --no-remove $plan \
      > "$work/apt" 2>&1 || { cp "$work/apt" "$work/out"; fail "$label: apt cannot install the plan with --no-remove"; bad=1; }
    awk '$1 == "Remv" { print; next } $1 == "Inst" && $3 ~ /^\[/ { old = substr($3, 2, length($3) - 2); new = substr($4, 2);
         if (system("dpkg --compare-versions \"" new "\" lt \"" old "\"") == 0) print }' "$work/apt" > "$work/out"
    [ -s "$work/out" ] && { fail "$label: apt would remove or downgrade"; bad=1; }
  fi
  [ "$bad" = 0 ] && echo "ok: $label: $said"
done <<< "$cases"

# Without root and without sudo, on a machine behind or not: the commands to run as root, then a stop.
# The user runs a copy of the script that they can read: the clone may lie where only root may enter.
mkdir "$work/bin" "$work/scripts"
for f in /usr/bin/* /usr/sbin/*; do [ "$(basename "$f")" = sudo ] || ln -sf "$f" "$work/bin/"; done
cp "$setup" "$work/scripts/"
setpriv --reuid=nobody --regid=nogroup --clear-groups test -r "$work/scripts/setup.sh" \
  || { echo "FAIL: nobody cannot read $work/scripts/setup.sh: set TMPDIR to a folder other accounts may enter"; exit 1; }
for name in behind server; do
  label="the run set on the $name machine as a user without sudo"
  env -i PATH="$work/bin" HOME=/nonexistent VANTREL_DPKG_STATUS="$work/$name" \
    setpriv --reuid=nobody --regid=nogroup --clear-groups bash "$work/scripts/setup.sh" run > "$work/out" 2>&1; status=$?
  missing=$(VANTREL_DPKG_STATUS="$work/$name" bash "$setup" run 2>/dev/null | sed -n 's/^setup: would install [0-9]* packages: //p')
  if [ "$status" != 1 ]; then fail "$label: exit status $status, not 1"
  elif ! grep -qx '  apt-get update' "$work/out"; then fail "$label: no \"apt-get update\" to run"
  elif ! grep -qxF "  apt-get install --no-install-recommends --no-remove $missing" "$work/out"; then fail "$label: no install command of $missing"
  else echo "ok: $label: $(grep -m1 'as root' "$work/out")"
  fi
done

[ "$failures" = 0 ] || { echo "$failures cases failed"; exit 1; }
