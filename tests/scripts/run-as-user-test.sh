#!/usr/bin/env bash
# A desktop user runs scripts/run.sh as themselves: a user made for the test (useradd), with every
# package present, builds the program from a copy of the source in their home and starts it with
# `pw-jack scripts/run.sh` on a private X server with their own PipeWire; the program plays into
# that PipeWire's sink and writes its profile in the user's home, and the build and the profile are the user's. Then root's
# run on that build folder and a run through sudo both stop with their reason and build nothing.
# The user's build reads the compiler cache of this machine's own build (read-only), so it costs
# little where that build went through ccache.
# The test ends only what it started: each of the user's processes it starts leads a session of its
# own, and the end signals those sessions, never the user's uid (which another system on the machine,
# a chroot's host say, may share).
# Usage: tests/scripts/run-as-user-test.sh SOURCE_ROOT   (as root)
#   VANTREL_TEST_USER_UID=UID makes the user with that uid, even one that is taken;
#   VANTREL_TEST_USER_STEPS=servers stops once the user's PipeWire is up (no build, no run).
set -uo pipefail
set +m   # no job control: a background child is no process group leader, and setsid makes its session without a fork
source_root=$1
skip() {
  echo "SKIP: $1"
  [ "${CI:-}" = true ] && { echo "FAIL: skipped in CI"; exit 1; }
  exit 77
}
[ "$(id -u)" = 0 ] || skip "making a user needs root"
for tool in useradd userdel runuser Xvfb pipewire wireplumber pw-jack pw-cli dbus-daemon; do
  command -v "$tool" > /dev/null || skip "$tool is not installed"
done

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
name=vantrel-t$(od -An -N4 -tx4 /dev/urandom | tr -d ' ')
work=$(mktemp -d /tmp/vantrel-user-XXXXXX)
chmod 755 "$work"
xvfb=
made=false
sessions=()   # the sessions of the user's processes this test started (each one's leader's pid)
# The processes of this test's sessions, whoever they run as.
own_processes() { local sid; for sid in "${sessions[@]}"; do pgrep -s "$sid"; done; }
end_own() {
  local signal=$1 pid
  for pid in $(own_processes); do kill "-$signal" "$pid" 2> /dev/null; done
  for _ in $(seq 100); do [ -z "$(own_processes)" ] && return 0; sleep 0.1; done
  return 1
}
cleanup() {
  [ -z "$xvfb" ] || kill "$xvfb" 2> /dev/null
  if $made; then
    end_own TERM || end_own KILL || echo "processes of this test outlived SIGKILL: $(own_processes | tr '\n' ' ')"
    # A process of the same uid that this test did not start (another system's) is left alone;
    # userdel then needs -f.
    userdel -r "$name" 2> /dev/null || userdel -r -f "$name" 2> /dev/null || echo "could not remove the user $name"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
uid_option=(); [ -z "${VANTREL_TEST_USER_UID:-}" ] || uid_option=(-o -u "$VANTREL_TEST_USER_UID")
useradd -m -s /bin/bash "${uid_option[@]}" "$name" || { echo "FAIL: useradd $name"; exit 1; }
made=true
home=$(getent passwd "$name" | cut -d: -f6)
uid=$(id -u "$name")
as_user() { runuser -u "$name" -- env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$home" USER="$name" LOGNAME="$name" \
  LANG=C.UTF-8 XDG_RUNTIME_DIR="$work/runtime" "$@"; }
# as_user in a session of its own, in the background (a child of this shell is no process group
# leader, so setsid makes the session without a fork: its id is $!; exec, so that $! is setsid's own
# pid); `started` takes it in. Only for a background job: it replaces the shell it runs in.
in_session() { exec setsid runuser -u "$name" -- env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$home" USER="$name" \
  LOGNAME="$name" LANG=C.UTF-8 XDG_RUNTIME_DIR="$work/runtime" "$@"; }
started() { sessions+=("$1"); }
mkdir -m 700 "$work/runtime" && chown "$name" "$work/runtime"

# The source as the user has it: a copy in their home, without build folders.
tar -C "$source_root" --exclude=./build --exclude=./.git -cf - . | as_user sh -c 'mkdir "$HOME/vantrel" && tar -C "$HOME/vantrel" -xf -' \
  || { echo "FAIL: the copy of the source"; exit 1; }
# This machine's compiler cache, linked (not copied) where the user can read it.
cache=$(ccache -k cache_dir 2> /dev/null || true)
if [ -n "$cache" ] && [ -d "$cache" ]; then
  if cp -al "$cache" "$work/ccache" 2> /dev/null; then
    find "$work/ccache" -type d -exec chmod a+rx {} +   # the folders are copies; the files are linked
  else
    echo "(the compiler cache $cache lies on another file system: the user's build starts from nothing)"
    rm -rf "$work/ccache"
  fi
fi

# A private X server and the user's own JACK server.
# A number of this test's range, never the lowest free one (":0", which a JUCE process started
# without DISPLAY reaches for); a number another server holds makes Xvfb exit, and the next is tried.
display=:
for n in $(shuf -i 400-499); do
  : > "$work/display"
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp -displayfd 3 3> "$work/display" > /dev/null 2>&1 &
  xvfb=$!
  while kill -0 "$xvfb" 2>/dev/null && ! grep -q . "$work/display"; do sleep 0.1; done
  if grep -q . "$work/display"; then display=:$(head -1 "$work/display"); break; fi
done
[ "$display" != : ] || { echo "FAIL: Xvfb did not start on any display of 400 to 499"; exit 1; }
# The user's own PipeWire, as on a desktop: a session bus, pipewire with a null sink, wireplumber.
sink="Vantrel User Sink"
as_user sh -c 'mkdir -p "$HOME/.config/pipewire/pipewire.conf.d"' && as_user tee "$home/.config/pipewire/pipewire.conf.d/sink.conf" > /dev/null <<EOF_SINK
context.objects = [
  { factory = adapter
    args = { factory.name = support.null-audio-sink
             node.name = "vantrel-user-sink"
             node.description = "$sink"
             media.class = Audio/Sink
             audio.position = [ FL FR ] } }
]
EOF_SINK
bus="unix:path=$work/runtime/bus"
in_session dbus-daemon --session --address="$bus" --nofork --nopidfile > "$work/dbus.log" 2>&1 &
started $!
for _ in $(seq 600); do [ -S "$work/runtime/bus" ] && break; sleep 0.1; done
in_session DBUS_SESSION_BUS_ADDRESS="$bus" pipewire > "$work/pipewire.log" 2>&1 &
started $!
for _ in $(seq 600); do [ -S "$work/runtime/pipewire-0" ] && break; sleep 0.1; done
in_session DBUS_SESSION_BUS_ADDRESS="$bus" wireplumber > "$work/wireplumber.log" 2>&1 &
started $!
sink_up=false
for _ in $(seq 600); do
  as_user pw-cli ls Node > "$work/nodes" 2>&1 && grep -q vantrel-user-sink "$work/nodes" && { sink_up=true; break; }
  sleep 0.1
done
if ! $sink_up; then
  echo "FAIL: the user's PipeWire did not start; its nodes:"; cat "$work/nodes"
  for log in dbus pipewire wireplumber; do echo "$log:"; cat "$work/$log.log"; done
  exit 1
fi
if [ "${VANTREL_TEST_USER_STEPS:-}" = servers ]; then
  echo "ok: the user's PipeWire is up (stopped there, as VANTREL_TEST_USER_STEPS asks)"; exit 0
fi

start=$(date +%s)
in_session DISPLAY="$display" DBUS_SESSION_BUS_ADDRESS="$bus" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/nowhere/system" \
  VANTREL_STARTUP_REPORT="$home/report.json" \
  CCACHE_DIR="$work/ccache" CCACHE_READONLY=1 CCACHE_TEMPDIR="$home/.ccache-tmp" JOBS=4 \
  pw-jack bash "$home/vantrel/scripts/run.sh" > "$work/run.log" 2>&1 &
run=$!
started "$run"
for _ in $(seq 18000); do   # a cap for a hung run only: the build may take minutes without a cache
  [ -s "$home/report.json" ] && grep -q '"status"' "$home/report.json" && break
  kill -0 "$run" 2> /dev/null || break
  sleep 0.1
done
echo "the user's package check, build and start took $(( $(date +%s) - start )) s"
program=$(pgrep -s "$run" -f "^$home/vantrel/build/release/shipped/support/Vantrel" | head -1)
if [ -z "$program" ] || [ ! -s "$home/report.json" ]; then
  fail "the user's run did not start the program:"; sed 's/^/  | /' "$work/run.log"; exit 1
fi
grep -q 'packages for "run" are installed' "$work/run.log" || fail "the run path did not find every package present"
profile="$home/.local/share/Vantrel/Ver1"
grep -qF "\"profileRoot\": \"$profile/music\"" "$home/report.json" || fail "the profile is not in the user's home: $(cat "$home/report.json")"
grep -q '"audioOpened": true' "$home/report.json" && grep -qF "\"actualOutput\": \"$sink\"" "$home/report.json" \
  || fail "the program did not play into the user's PipeWire: $(cat "$home/report.json")"
[ "$(stat -c %u /proc/"$program")" = "$uid" ] || fail "the program does not run as the user"

kill -TERM "$program"
wait "$run"; code=$?
[ "$code" = 0 ] || { fail "after SIGTERM run.sh exited with $code:"; tail -20 "$work/run.log" | sed 's/^/  | /'; }
[ -f "$profile/local/preferences.json" ] || fail "no preferences in the user's profile"
foreign=$(find "$home/.local" "$home/vantrel/build" ! -uid "$uid" | head -3)
[ -z "$foreign" ] || fail "files of the profile or the build that are not the user's: $foreign"

# Root's run on the user's build folder stops, naming its owner, and changes nothing there.
before=$(find "$home/vantrel/build" -newer "$home/report.json" | wc -l)
DISPLAY="$display" bash "$home/vantrel/scripts/run.sh" > "$work/root.log" 2>&1; code=$?
[ "$code" = 1 ] && grep -q "belongs to $name" "$work/root.log" \
  || { fail "root's run on the user's build: exit $code"; sed 's/^/  | /' "$work/root.log"; }
[ "$(find "$home/vantrel/build" -newer "$home/report.json" | wc -l)" = "$before" ] || fail "root's run changed the user's build"
# Through sudo: the packages are checked, then it stops and says who should start it.
SUDO_USER=$name BUILD_DIR="$work/sudo-build" DISPLAY="$display" bash "$home/vantrel/scripts/run.sh" > "$work/sudo.log" 2>&1; code=$?
[ "$code" = 1 ] && grep -q "start scripts/run.sh as $name, without sudo" "$work/sudo.log" && [ ! -e "$work/sudo-build" ] \
  || { fail "the run through sudo: exit $code"; sed 's/^/  | /' "$work/sudo.log"; }

[ "$failures" = 0 ] || { echo "$failures checks failed"; exit 1; }
echo "ok: the user built and ran the program as themselves; root's and sudo's runs stopped with their reason"
