#!/usr/bin/env bash
# What scripts/run.sh says before it builds, in one plain sentence each: no X display; a build
# folder this account cannot write; a build folder of another account, with what a user without
# sudo can do. None of them configures or builds anything.
# Usage: tests/scripts/run-checks-test.sh SOURCE_ROOT
set -uo pipefail
root=$1
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir -m 755 "$work/roots" "$work/taken"
# The scripts as the user can read them: the clone may lie where only root may enter.
cp -a "$root/scripts" "$work/scripts"
# A user's PATH on a machine without sudo.
mkdir "$work/bin"
for f in /usr/bin/* /usr/sbin/*; do [ "$(basename "$f")" = sudo ] || ln -sf "$f" "$work/bin/"; done
as_user=(env -i PATH="$work/bin" HOME=/nonexistent DISPLAY=:99 setpriv --reuid=nobody --regid=nogroup --clear-groups)
setpriv --reuid=nobody --regid=nogroup --clear-groups test -r "$work/scripts/run.sh" \
  || { echo "FAIL: nobody cannot read $work/scripts/run.sh: set TMPDIR to a folder other accounts may enter"; exit 1; }
failures=0

# who | build folder | words the output holds | words it must not hold
cases="
root, no display|$work/fresh|no DISPLAY is set|CMake
user|$work/roots/build|cannot write the build folder $work/roots/build|CMake Error
user|$work/taken|belongs to root, not to nobody|sudo
"
while IFS='|' read -r who folder words lacks; do
  [ -n "$who" ] || continue
  if [ "$who" = user ]; then run=("${as_user[@]}" env BUILD_DIR="$folder"); else run=(env -u DISPLAY BUILD_DIR="$folder"); fi
  "${run[@]}" bash "$work/scripts/run.sh" > "$work/out" 2>&1; code=$?
  problem=""
  [ "$code" = 1 ] || problem="exit status $code, not 1"
  grep -qF "$words" "$work/out" || problem="${problem:+$problem; }the output lacks \"$words\""
  ! grep -qF "$lacks" "$work/out" || problem="${problem:+$problem; }the output holds \"$lacks\""
  [ "$(wc -l < "$work/out")" -le 2 ] || problem="${problem:+$problem; }more than a sentence"
  [ ! -e "$folder/CMakeCache.txt" ] || problem="${problem:+$problem; }it configured $folder"
  if [ -n "$problem" ]; then
    echo "FAIL: $who, $folder: $problem"; sed 's/^/  | /' "$work/out"; failures=$((failures + 1))
  else
    echo "ok: $who: $(grep -m1 -F "$words" "$work/out")"
  fi
done <<< "$cases"
[ "$failures" = 0 ] || { echo "$failures cases failed"; exit 1; }
