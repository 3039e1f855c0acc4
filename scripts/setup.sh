#!/usr/bin/env bash
# Installs the Debian packages that Vantrel needs on Debian 12.
# Usage: scripts/setup.sh [run|test]
#   run   what building and running the program needs (scripts/run.sh);
#   test  that and the test tools (scripts/test.sh; the default).
# Packages already present are not touched, and nothing installed is ever removed or downgraded:
# apt is asked first (a simulation); installed packages that the new ones need in a later version
# of Debian 12 are upgraded, as apt does, and named first; when apt would remove a package or
# install an older version of one, the script installs nothing, stops and names the package that
# brings the change. As root it installs; as another user it installs through sudo;
# without sudo it prints the apt-get commands to run as root and stops.
# VANTREL_DPKG_STATUS=FILE (for the tests) checks against that dpkg status file instead of this
# machine's and only simulates: it installs nothing.
set -euo pipefail

mode=${1:-test}

build_packages=(
  cmake ninja-build g++ pkg-config git
  juce-modules-source libasound2-dev libjack-jackd2-dev libfreetype-dev
  libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxext-dev libxcomposite-dev libxrender-dev
  libcurl4-gnutls-dev libflac-dev libvorbis-dev libogg-dev libpng-dev libjpeg-dev zlib1g-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libmp3lame-dev
  libcdio-dev libcdio-paranoia-dev libpulse-dev libdbus-1-dev libsystemd-dev
)
# What the program itself needs at run time: the UI face (Japanese and Latin), the face for the
# symbols it lacks, and the brand marks' face.
run_packages=(
  fonts-noto-cjk fonts-dejavu-core fonts-liberation2
)
# The tests' and benchmarks' libraries, the tools the tests drive, and the compiler cache that keeps
# the test of a user's own build short.
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xdotool x11-apps x11-utils imagemagick sox libsox-fmt-all ffmpeg
  jackd2 pulseaudio pulseaudio-utils dbus-daemon
  pipewire pipewire-pulse wireplumber pipewire-jack
  fonts-ipafont-gothic lame openbox ccache bindfs
)

die() { echo "setup: $*" >&2; exit 1; }

case "$mode" in
  run) wanted=("${build_packages[@]}" "${run_packages[@]}") ;;
  test) wanted=("${build_packages[@]}" "${run_packages[@]}" "${test_packages[@]}") ;;
  *) die "unknown set \"$mode\"; use run or test" ;;
esac

[ -r /etc/debian_version ] || die "this script needs Debian 12 (no /etc/debian_version found)"
command -v dpkg-query >/dev/null || die "dpkg-query is missing; this script needs Debian 12"

status_file=${VANTREL_DPKG_STATUS:-}
query=(dpkg-query)
apt_status=()
if [ -n "$status_file" ]; then
  [ -r "$status_file" ] || die "VANTREL_DPKG_STATUS names no readable file: $status_file"
  admin=$(mktemp -d); trap 'rm -rf "$admin"' EXIT
  ln -s "$(cd "$(dirname "$status_file")" && pwd)/$(basename "$status_file")" "$admin/status"
  query=(dpkg-query "--admindir=$admin")
  apt_status=(-o "Dir::State::status=$status_file")
fi

# The installed packages among the wanted ones and PipeWire's (one read of dpkg's database).
declare -A present=()
while read -r name state; do
  [ "$state" != installed ] || present[$name]=1
done < <("${query[@]}" -W -f='${Package} ${db:Status-Status}\n' "${wanted[@]}" pipewire-audio pipewire-alsa 2>/dev/null || true)
installed() { [ -n "${present[$1]:-}" ]; }

# PipeWire's ALSA layer and its audio set declare a conflict with the PulseAudio daemon: on such a
# desktop the daemon is left out, and the system-sound tests run on pipewire-pulse.
if [ "$mode" = test ]; then
  for p in pipewire-audio pipewire-alsa; do
    if installed "$p"; then
      echo "setup: $p is installed, which conflicts with the PulseAudio daemon: pulseaudio is left out" \
           "(the system-sound tests run on pipewire-pulse)"
      kept=()
      for q in "${wanted[@]}"; do [ "$q" = pulseaudio ] || kept+=("$q"); done
      wanted=("${kept[@]}")
      break
    fi
  done
fi

missing=()
for p in "${wanted[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#wanted[@]} packages for \"$mode\" are installed"
  exit 0
fi

install_command="apt-get install --no-install-recommends --no-remove ${missing[*]}"
# The two commands to run as root, each on a line of its own, after the reason on the line above.
print_root_commands() {
  echo "setup: $1; as root, run:" >&2
  echo "  apt-get update" >&2
  echo "  $install_command" >&2
  echo "setup: (apt may upgrade installed packages of Debian 12 that these need; --no-remove keeps it from removing any)" >&2
  echo "setup: then start this script again" >&2
}

# What apt would do, without doing it. "Remv X" removes X; "Inst X [old] (new ...)" changes the
# installed X to another version: an upgrade when new is the later one (Debian's ordinary way of
# meeting a development package's exact dependency on its library), a downgrade otherwise.
simulate() {
  LC_ALL=C apt-get -s -q "${apt_status[@]}" -o Debug::NoLocking=1 install --no-install-recommends "$@" 2>&1
}
# One line a change: "remove X", "downgrade X OLD NEW" or "upgrade X OLD NEW".
changes() {
  local verb name old new
  while read -r verb name old new _; do
    case "$verb" in
      Remv) echo "remove $name" ;;
      Inst)
        [[ "$old" == \[*\] ]] || continue
        old=${old#[}; old=${old%]}; new=${new#(}
        if dpkg --compare-versions "$new" lt "$old"; then echo "downgrade $name $old $new"
        else echo "upgrade $name $old $new"; fi ;;
    esac
  done
}
harmful() { awk '$1 == "remove" { print $2 " (removed)" } $1 == "downgrade" { print $2 " (downgraded from " $3 " to " $4 ")" }'; }

# 0: apt would only add packages and upgrade installed ones (those are named on standard output);
# 1: it would remove or downgrade one (named on standard error, with the package that brings it);
# 2: apt cannot install them at all (its words on standard error).
check_with_apt() {
  local plan planned harm upgrades p own
  if ! plan=$(simulate "${missing[@]}"); then
    echo "setup: apt cannot install ${missing[*]}:"$'\n'"$plan" >&2
    return 2
  fi
  planned=$(changes <<< "$plan")
  harm=$(harmful <<< "$planned")
  if [ -n "$harm" ]; then
    echo "setup: installing ${missing[*]} would remove or downgrade installed packages: $(tr '\n' ' ' <<< "$harm")" >&2
    for p in "${missing[@]}"; do   # name the package that brings each change
      own=$(simulate "$p" | changes | harmful) || true
      [ -z "$own" ] || echo "setup:   $p would bring: $(tr '\n' ' ' <<< "$own")" >&2
    done
    echo "setup: nothing was installed; Vantrel's packages never remove or downgrade an installed package:" \
         "settle the package named above by hand (or install on a machine without it), then start this script again" >&2
    return 1
  fi
  # apt's own word: with --no-remove the plan must still go through.
  if ! plan=$(simulate --no-remove "${missing[@]}"); then
    echo "setup: apt cannot install ${missing[*]} without removing a package:"$'\n'"$plan" >&2
    return 1
  fi
  upgrades=$(awk '$1 == "upgrade" { print $2 " (" $3 " -> " $4 ")" }' <<< "$planned")
  if [ -n "$upgrades" ]; then
    echo "setup: apt will also upgrade $(wc -l <<< "$upgrades") installed packages to their current Debian 12 versions," \
         "which the new packages need: $(tr '\n' ' ' <<< "$upgrades")"
  fi
  return 0
}

root=false
[ "$(id -u)" -eq 0 ] && root=true
as_root=()
$root || as_root=(sudo)

# Without root and without sudo: the commands to run as root, whatever this machine's lists say
# (they may be older than the archive, so apt's plan here is no verdict).
if ! $root && ! command -v sudo > /dev/null; then
  print_root_commands "${#missing[@]} packages are missing and there is no sudo here"
  exit 1
fi

if [ -n "$status_file" ]; then
  check_with_apt || exit 1
  echo "setup: would install ${#missing[@]} packages: ${missing[*]}"
  exit 0
fi

echo "setup: installing ${#missing[@]} packages: ${missing[*]}"
# The install asks nothing (debconf's questions take their defaults, e.g. jackd2's real-time
# limits stay off; see the README); through sudo, which drops the environment, it is set on the
# command line.
export DEBIAN_FRONTEND=noninteractive
$root || as_root=(sudo DEBIAN_FRONTEND=noninteractive)
"${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 update -q \
  || { print_root_commands "apt-get update failed"; exit 1; }
check_with_apt || exit 1
"${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends --no-remove "${missing[@]}" \
  || { print_root_commands "apt-get install failed"; exit 1; }
echo "setup: done"
