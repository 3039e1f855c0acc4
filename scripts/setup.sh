#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Vantrel needs.
# Idempotent: packages already present are not touched. Needs root on Debian 12.
set -euo pipefail

build_packages=(
  cmake ninja-build g++ pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
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
test_packages=(
  xvfb xdotool x11-apps x11-utils imagemagick sox libsox-fmt-all ffmpeg
  jackd2 pulseaudio pulseaudio-utils dbus-daemon
  pipewire pipewire-pulse wireplumber pipewire-jack
  fonts-ipafont-gothic lame openbox
)

die() { echo "setup: $*" >&2; exit 1; }

[ -r /etc/debian_version ] || die "this script needs Debian 12 (no /etc/debian_version found)"
command -v dpkg-query >/dev/null || die "dpkg-query is missing; this script needs Debian 12"

missing=()
for p in "${build_packages[@]}" "${run_packages[@]}" "${test_packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#build_packages[@]} build, ${#run_packages[@]} run-time and ${#test_packages[@]} test packages are installed"
  exit 0
fi

[ "$(id -u)" -eq 0 ] || die "missing packages (${missing[*]}); run this script as root to install them"

echo "setup: installing ${#missing[@]} packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=600 update -q || die "apt-get update failed"
apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}" \
  || die "apt-get install failed for: ${missing[*]}"
echo "setup: done"
