# shellcheck shell=bash
# Shared by scripts/test, scripts/demo, scripts/sanitize, scripts/fuzz,
# scripts/crash-test and scripts/fault-test: the Debian packages the project
# builds, tests and runs with, their installation (apt is asked only when
# something is missing) and the build in the default folder.
# Source it; it defines HC_PACKAGES, hc_as_root, hc_install_packages,
# hc_build_dir and hc_build.

# What the default build, its tests, scripts/demo, scripts/crash-test and
# scripts/fault-test use.
# Not listed: clang (the "asan" preset of scripts/sanitize and scripts/fuzz),
# and python3 or sqlite3 (scripts/crash-test and scripts/fault-test read
# their databases with whichever they find).
HC_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql
  # the browser engine, and the process it runs its pages in
  qt6-webengine-dev libqt6webenginecore6-bin
  libgumbo-dev libcpp-httplib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  postgresql xvfb xauth imagemagick
  # scripts/crash-test drives the window on its private display with it
  xdotool
  # scripts/fault-test reads the destination memo back through the clipboard
  xclip
  # the build compiles through it when present: a fresh clone (as CI makes
  # for every run) then reuses what an earlier clone compiled
  ccache
  # hotelcrawler-export --format xlsx writes its workbooks with it
  libxlsxwriter-dev
  # the store watches its PostgreSQL connection's socket through it
  libpq-dev
  # scripts/package checks the Debian package and its desktop entry with them
  lintian desktop-file-utils
  # the package's manual pages of the tools are made from their --help with it
  help2man
)

# Runs a command as root: directly when we are root, through sudo otherwise.
hc_as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    echo "need root (or sudo) to run: $*" >&2
    return 1
  fi
}

# Installs the packages of HC_PACKAGES that are not installed yet, as root
# (see hc_as_root); does nothing, and needs no root, when all are there.
hc_install_packages() {
  local missing=() pkg
  for pkg in "${HC_PACKAGES[@]}"; do
    if [ "$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null)" != "install ok installed" ]; then
      missing+=("$pkg")
    fi
  done
  if [ "${#missing[@]}" -eq 0 ]; then
    return 0
  fi
  echo "installing: ${missing[*]}"
  hc_as_root env DEBIAN_FRONTEND=noninteractive apt-get update
  hc_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# The build folder: build/ in the repository unless HC_BUILD_DIR names another.
hc_build_dir() {
  echo "${HC_BUILD_DIR:-$1/build}"
}

# Configures the build folder (Ninja, RelWithDebInfo; any other setting as the
# folder's cache has it) and builds its default targets with one job per
# core: the program, the tools, the tests and, unless HC_BENCH=OFF, the
# benchmarks. The fuzz targets come from the "asan" preset instead (see
# scripts/lib-sanitizers.sh).
hc_build() {
  local root=$1 dir
  dir="$(hc_build_dir "$root")"
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  # Through ccache with paths relative to the repository, as the "asan"
  # preset does (scripts/lib-sanitizers.sh), so that another clone hits too.
  CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}" \
    cmake --build "$dir" -j "$(nproc)"
}
