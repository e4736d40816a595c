# Shared by scripts/demo, scripts/test, scripts/fuzz and bench/run: packages, builds, and a
# private X display. Sourced, not run.
# shellcheck shell=bash

KORVANI_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# The default preset's build folder (CMakePresets.json).
# shellcheck disable=SC2034
KORVANI_BUILD=$KORVANI_ROOT/build

# Every Debian 12 package any of the scripts needs, so that one install line covers them all.
KORVANI_PACKAGES=(
  # the program's build (all a packager needs)
  cmake ninja-build g++ pkg-config qt6-base-dev libcurl4-openssl-dev libssl-dev libasound2-dev
  libx11-dev libwayland-dev qt6-base-private-dev libseccomp-dev
  # at run time: the window's font; Qt's Wayland platform
  fonts-liberation2 qt6-wayland
  # the tests' and tools' build
  qt6-qpa-plugins libgl-dev libcpp-httplib-dev libxdamage-dev
  # the packages: dpkg-shlibdeps, and file, which CPack runs to find the programs; the
  # packaging test's lintian and hardening-check (devscripts)
  dpkg-dev file lintian devscripts
  # the fuzz targets (scripts/fuzz)
  clang libclang-rt-14-dev
  # the desktop the tests run on: X, a window manager, Wayland, screenshots
  xvfb openbox x11-utils xdotool imagemagick weston xwayland qt6-gtk-platformtheme
  # a screen reader's view of the window: a private session bus, AT-SPI and its Python client
  dbus at-spi2-core python3-pyatspi orca
  # what the tests serve, save onto and compare with
  openssl dosfstools fusefat
  # a sound server the tests hear the tones on, as a desktop plays them: the confined
  # program may write no file outside its folder, so ALSA's file plugin cannot serve
  pulseaudio pulseaudio-utils libasound2-plugins
  # the benchmarks (bench/run)
  curl nginx nginx-light python3
)

korvani_missing_packages() {
  local missing=() package
  for package in $(printf '%s\n' "${KORVANI_PACKAGES[@]}" | awk '!seen[$0]++'); do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  echo "${missing[@]}"
}

# Installs what is missing; as another user, says the one line to run and stops.
korvani_install_packages() {
  local missing
  missing=$(korvani_missing_packages)
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Run this once, then try again:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends $missing" >&2
    exit 1
  fi
  echo "Installing: $missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

# korvani_build PRESET [BUILD OPTIONS...]: configures and builds with a preset of
# CMakePresets.json, e.g. korvani_build default --target korvani-download.
korvani_build() {
  local preset=$1
  shift
  (
    cd "$KORVANI_ROOT" || exit
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)" "$@"
  )
}

# Waits until a command succeeds, for at most $1 seconds.
korvani_await() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.1
  done
}

KORVANI_PIDS=()
korvani_stop_all() {
  local pid
  for pid in "${KORVANI_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${KORVANI_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  KORVANI_PIDS=()
}
trap korvani_stop_all EXIT

# Starts Xvfb on a free display with openbox on it, and exports DISPLAY.
korvani_start_display() {
  local fifo display log
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  KORVANI_PIDS+=($!)
  read -r -t 30 display <"$fifo" || { echo "Xvfb did not start" >&2; rm -f "$fifo"; exit 1; }
  rm -f "$fifo"
  export DISPLAY=":$display"
  log=$(mktemp)
  openbox >"$log" 2>&1 &
  KORVANI_PIDS+=($!)
  if ! korvani_await 30 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'; then
    echo "openbox did not start on $DISPLAY:" >&2
    cat "$log" >&2
    exit 1
  fi
  rm -f "$log"
}
