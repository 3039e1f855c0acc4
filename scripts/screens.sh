#!/usr/bin/env bash
# Pictures the main screen: builds the screens program, starts a private X server and writes one
# PNG per screen (window sizes, folded panels, DYNAMICS, library, pad edit, a show in progress
# with three lanes and a pad sounding, LIVE LOCK, the library panel under each of its four filters
# (library-all, library-playlist, library-pad, library-unused), English, then a long playlist
# with notes at row height 49 and 30 (rows-long-notes, rows-long-notes-30), and the playlist
# tree with nested folders, some folded (tree-nested), the EQ windows of the master, a playlist and
# a row with a bent curve (eq-master, eq-playlist, eq-row), the CD window with a disc listed and
# some tracks ticked and during an import (cd-disc, cd-importing), the output dialog with a JACK
# device chosen (output-dialog-jack), the settings window and its product information window
# (settings-default, product-info), the VST window with a scanned plug-in chosen in slot 1
# (vst-chosen))
# into build/screens/.
# Usage: scripts/screens.sh   (BUILD_DIR may be set, default build/release)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build/release}
out=$root/build/screens

die() { echo "screens: $*" >&2; exit 1; }

command -v Xvfb >/dev/null || die "Xvfb is not installed (scripts/setup.sh installs it)"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target vantrel_screens
program=$build/tests/ui/vantrel_screens
[ -x "$program" ] || die "the screens program was not built: $program"

# A private X server on a display number it picks itself (-displayfd), stopped by its pid.
fifo_dir=$(mktemp -d)
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$fifo_dir"
}
trap cleanup EXIT
mkfifo "$fifo_dir/display"
Xvfb -displayfd 3 -screen 0 2600x1500x24 -nolisten tcp 3>"$fifo_dir/display" 2>"$fifo_dir/xvfb.log" &
xvfb_pid=$!
display=""
read -r -t 30 display <"$fifo_dir/display" || true
[ -n "$display" ] || die "Xvfb did not start: $(cat "$fifo_dir/xvfb.log")"

rm -rf "$out"
mkdir -p "$out"
DISPLAY=":$display" "$program" "$out"
echo "screens: the pictures are in $out"
