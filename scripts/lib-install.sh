# Shared by scripts/test and scripts/demo: installs the Debian packages the
# project builds and runs with, asking apt only when something is missing.
# Source it; it defines hc_install_packages and hc_as_root.

HC_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql
  libgumbo-dev libcpp-httplib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  postgresql xvfb xauth imagemagick
  # scripts/crash-test drives the window on its private display with it
  xdotool
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

# Configures and builds everything in the build folder.
hc_build() {
  local root=$1 dir
  dir="$(hc_build_dir "$root")"
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$dir" -j "$(nproc)"
}
