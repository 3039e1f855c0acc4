#!/usr/bin/env bash
# Fails when a file of the program includes a header of a layer above its own, and prints each
# such include as file:line with the rule it breaks.
# Usage: scripts/check-layers.sh [SOURCE_ROOT]   (the repository by default)
#
# The layers, lowest first; a folder may include its own headers and those of the layers below:
#   platform <- session <- audio <- app <- ui <- program
#   vsthost    the plug-in host worker: on platform alone
#   launcher   on nothing of ours
# Inside the layers:
#   audio/     its parts as the includes have them: dsp and media on no other part, engine on dsp
#              and media (the engine's commands carry the media's PCM records), rack on no other
#              part, output on engine, media, rack and dsp
#   app/cd     the CD import, below the rest of app/: it includes no app/ header outside app/cd
# Operating-system headers (unistd.h, sys/*, X11, libpulse, jack, dbus, libcdio ...) only in platform/,
# and in the launcher, which stands alone.
# One exception: vsthost/ProtocolWords.h, the worker's line-protocol words (constants only), is
# shared by the worker and the rack's worker client in audio/rack.
# tests/ and bench/ sit above everything and are not checked.
set -euo pipefail
root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root"
folders="platform session audio app ui program vsthost launcher"
for folder in $folders; do
  [ -d "$folder" ] || { echo "check-layers: no folder $folder under $root"; exit 2; }
done

# file:line:text of every include of the checked folders
{ grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]' $folders || true; } |
awk '
BEGIN {
  rank["platform"] = 0; rank["session"] = 1; rank["audio"] = 2; rank["app"] = 3; rank["ui"] = 4; rank["program"] = 5
  # allowed audio part edges: part SUBSEP included part
  split("dsp:dsp media:media engine:engine engine:dsp engine:media rack:rack " \
        "output:output output:engine output:media output:rack output:dsp", edges, " ")
  for (i in edges) { split(edges[i], e, ":"); audioEdge[e[1], e[2]] = 1 }
  osHeaders = "^((unistd|fcntl|signal|pthread|dlfcn|poll|spawn|dirent|pwd|grp|termios|sched|syslog|mntent)\\.h|" \
              "(sys|X11|pulse|jack|dbus|dbus-1\\.0|cdio|linux|alsa|pipewire|pipewire-0\\.3|spa|netinet|arpa)/)"
  bad = 0
}
function report(rule) {
  printf "%s:%s: includes \"%s\": %s\n", file, line, header, rule
  bad = 1
}
{
  # file:line:text; the text may hold colons of its own
  file = $0; sub(/:.*/, "", file)
  rest = substr($0, length(file) + 2); line = rest; sub(/:.*/, "", line)
  n = split(file, fp, "/"); from = fp[1]
  if (rest ~ /include[[:space:]]*</) {              # a system or library header
    header = rest; sub(/^[^<]*</, "", header); sub(/>.*/, "", header)
    if (from != "platform" && from != "launcher" && header ~ osHeaders)
      report("operating-system headers only in platform/ (and in the launcher, which stands alone)")
    next
  }
  header = rest; sub(/^[^"]*"/, "", header); sub(/".*/, "", header)
  if (header !~ /\//) next                          # a header beside the file: same folder
  split(header, hp, "/"); to = hp[1]
  if (!(to in rank) && to != "vsthost" && to != "launcher") {
    if (to == "tests" || to == "bench" || to == "support") report("the program never includes test or benchmark code")
    next                                            # a library header (JUCE, the VST3 SDK ...)
  }
  if (from == "launcher") {
    if (to != "launcher") report("the launcher stands on the C and C++ run-time alone, nothing of ours")
    next
  }
  if (from == "vsthost") {
    if (to != "vsthost" && to != "platform") report("vsthost/ stands on platform/ alone")
    next
  }
  if (to == "vsthost") {
    if (!(header == "vsthost/ProtocolWords.h" && fp[1] == "audio" && fp[2] == "rack"))
      report("only audio/rack includes the worker, and only its protocol words (vsthost/ProtocolWords.h)")
    next
  }
  if (to == "launcher") { report("nothing includes the launcher"); next }
  if (rank[to] > rank[from]) {
    report(from "/ (layer " rank[from] ") includes a layer above its own: platform <- session <- audio <- app <- ui <- program")
    next
  }
  if (from == "audio" && to == "audio" && n > 2 && !((fp[2], hp[2]) in audioEdge))
    report("audio/" fp[2] " may not include audio/" hp[2] ": dsp, media <- engine; dsp, media, engine, rack <- output")
  if (from == "app" && to == "app" && fp[2] == "cd" && n > 2 && hp[2] != "cd")
    report("app/cd sits below the rest of app/ and includes only app/cd headers")
}
END { exit bad }
' && echo "check-layers: every include of $folders keeps the layers" || {
  echo "check-layers: includes break the layers (listed above)"
  exit 1
}
