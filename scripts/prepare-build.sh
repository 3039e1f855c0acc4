# Sourced by run.sh and test.sh: sets `root` (the repository's top folder), `build` (BUILD_DIR, else
# build/release) and `jobs` (JOBS, else every core), installs the Debian packages that are missing
# and configures the release build there.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build/release}
jobs=${JOBS:-$(nproc)}

bash "$root/scripts/setup.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
