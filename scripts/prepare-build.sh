# Sourced by run.sh (with packages=run) and test.sh (with packages=test): sets `root` (the
# repository's top folder), `build` (BUILD_DIR, else build/release) and `jobs` (JOBS, else every
# core), installs the Debian packages of that set that are missing (scripts/setup.sh) and configures
# the release build there (run.sh without the tests and benchmarks, unless the folder already has
# them; test.sh with them).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build/release}
jobs=${JOBS:-$(nproc)}

bash "$root/scripts/setup.sh" "$packages"

# Under sudo the program would run as root: it would not reach the desktop user's PipeWire or
# JACK (sudo drops XDG_RUNTIME_DIR and what pw-jack sets), and its build and profile would be
# root's. The packages are in place now; the program is the user's to build and start.
if [ "$packages" = run ] && [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  echo "run: the packages are installed; now start scripts/run.sh as $SUDO_USER, without sudo" >&2
  echo "run: (through sudo the program would run as root: it would not reach $SUDO_USER's PipeWire or JACK," \
       "and its build and profile would be root's)" >&2
  exit 1
fi

# The program needs an X display: say so before minutes of building, not after.
if [ "$packages" = run ] && [ -z "${DISPLAY:-}" ]; then
  echo "run: no DISPLAY is set; Vantrel needs an X display (start this script in a desktop session)" >&2
  exit 1
fi

# A build folder of another account (an earlier run as root, say) cannot be built on as this one.
if [ -e "$build" ] && [ ! -O "$build" ]; then
  owner=$(stat -c %U "$build")
  if [ "$(id -u)" -eq 0 ] || command -v sudo > /dev/null; then
    remedy="remove it (as $owner, or with sudo rm -rf \"$build\")"
  elif [ "$owner" = root ]; then
    remedy="ask root to remove it"
  else
    remedy="ask $owner or root to remove it"
  fi
  echo "build: $build belongs to $owner, not to $(id -un) (an earlier run as that account);" \
       "$remedy, or build elsewhere: BUILD_DIR=\"\$HOME/vantrel-build\" $0" >&2
  exit 1
fi
# A build folder this account cannot make or write (inside another account's folder, say).
probe=$build
while [ ! -e "$probe" ]; do probe=$(dirname "$probe"); done
if [ ! -d "$probe" ] || [ ! -w "$probe" ] || [ ! -x "$probe" ]; then
  echo "build: $(id -un) cannot write the build folder $build ($probe is not a folder this account may write);" \
       "choose another with BUILD_DIR, for example: BUILD_DIR=\"\$HOME/vantrel-build\" $0" >&2
  exit 1
fi

# Where ccache is installed (the test set has it) the compiler goes through it, with paths in the
# tree taken relative to it, so that another checkout's build finds what this one compiled.
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
fi

if [ "$packages" = test ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_BUILD_TESTS=ON -DVANTREL_BUILD_BENCHMARKS=ON \
    "${launcher[@]}"
elif [ -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build"   # as it was configured (a test build keeps its tests)
else
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_BUILD_TESTS=OFF -DVANTREL_BUILD_BENCHMARKS=OFF \
    "${launcher[@]}"
fi
build=$(cd "$build" && pwd)
