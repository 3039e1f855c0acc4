#!/usr/bin/env bash
# The layer check passes on the tree and fails, naming the file, the line and the rule, on a copy
# of the tree with one include that breaks a layer rule (one copy per rule).
# Usage: tests/scripts/check-layers-test.sh SOURCE_ROOT
set -euo pipefail
root=$1
check="$root/scripts/check-layers.sh"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
folders="platform session audio app ui program vsthost launcher"
failures=0

bash "$check" "$root" > "$work/tree.out" || { cat "$work/tree.out"; echo "FAIL: the tree itself breaks the layers"; exit 1; }

# file that gets the bad include | the include | words the report must hold
cases='
session/Library.cpp|app/SessionCoordinator.h|layer above its own
platform/FileStatus.h|ui/MainWindow.h|layer above its own
audio/output/JuceAudioAdapter.cpp|app/SessionCoordinator.h|layer above its own
app/SessionTick.cpp|ui/MainWindow.h|layer above its own
ui/MainWindow.cpp|program/Application.h|layer above its own
audio/dsp/EqProcessor.h|audio/engine/MixEngine.h|audio/dsp may not include audio/engine
audio/media/MediaLoad.cpp|audio/output/JuceAudioAdapter.h|audio/media may not include audio/output
audio/rack/MasterVstRack.cpp|audio/engine/MixEngine.h|audio/rack may not include audio/engine
app/cd/CdRipping.cpp|app/SessionCoordinator.h|app/cd sits below
vsthost/WorkerServer.cpp|session/StoreResult.h|stands on platform/ alone
launcher/LauncherLinux.cpp|platform/FileStatus.h|nothing of ours
audio/output/JuceAudioAdapter.cpp|vsthost/WorkerProtocol.h|only audio/rack includes the worker
ui/MainWindow.cpp|launcher/Launcher.h|nothing includes the launcher
app/SessionTick.cpp|tests/support/TestFiles.h|never includes test
audio/output/DeviceCatalogue.cpp|<sys/stat.h>|operating-system headers only in platform/
ui/MainWindow.cpp|<X11/Xlib.h>|operating-system headers only in platform/
'
while IFS='|' read -r file header words; do
  [ -n "$file" ] || continue
  copy="$work/tree"
  rm -rf "$copy"; mkdir "$copy"
  for folder in $folders; do cp -r "$root/$folder" "$copy/"; done
  [ -f "$copy/$file" ] || { echo "FAIL: no file $file to break"; failures=$((failures + 1)); continue; }
  case "$header" in
    '<'*) printf '#include %s\n' "$header" >> "$copy/$file"; header=${header#<}; header=${header%>} ;;
    *) printf '#include "%s"\n' "$header" >> "$copy/$file" ;;
  esac
  line=$(wc -l < "$copy/$file")
  if bash "$check" "$copy" > "$work/out" 2>&1; then
    echo "FAIL: $file including $header passed the check"; failures=$((failures + 1))
  elif ! grep -qF "$file:$line: includes \"$header\"" "$work/out" || ! grep -qF "$words" "$work/out"; then
    echo "FAIL: $file including $header: the report lacks \"$file:$line\" or \"$words\":"; cat "$work/out"
    failures=$((failures + 1))
  elif [ "$(grep -c ': includes "' "$work/out")" != 1 ]; then
    echo "FAIL: $file including $header: more than the one bad include reported:"; cat "$work/out"
    failures=$((failures + 1))
  else
    echo "ok: $(head -1 "$work/out")"
  fi
done <<< "$cases"
[ "$failures" = 0 ] || { echo "$failures cases failed"; exit 1; }
