#!/usr/bin/env bash
# Packs a build's shipped folder, with the packed folder's own README (scripts/packed-README.md,
# which describes the folder, not the repository) and the licence beside the programs, into
# BUILD_DIR/Vantrel-1.0.0-linux-x86_64.tar.gz under one top folder "Vantrel":
#   Vantrel/Vantrel                 the launcher
#   Vantrel/support/Vantrel         the main program
#   Vantrel/support/OrvaneVstHost   the plug-in host worker
# Usage: scripts/package.sh [BUILD_DIR]   (default build/release, built beforehand)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
version=1.0.0
archive=$build/Vantrel-$version-linux-x86_64.tar.gz

for program in Vantrel support/Vantrel support/OrvaneVstHost; do
  [ -x "$build/shipped/$program" ] || { echo "package: $build/shipped/$program is missing: build first" >&2; exit 1; }
done

stage=$(mktemp -d "$build/package.XXXXXX"); trap 'rm -rf "$stage"' EXIT
cp -a "$build/shipped" "$stage/Vantrel"
cp "$root/scripts/packed-README.md" "$stage/Vantrel/README.md"
cp "$root/LICENSE" "$stage/Vantrel/"
tar --create --gzip --sort=name --owner=0 --group=0 --numeric-owner \
    --file "$stage/archive.tar.gz" -C "$stage" Vantrel
mv "$stage/archive.tar.gz" "$archive"
echo "package: $archive"
