# Shared by scripts/demo and scripts/test: packages, build, and a private X display.
# Sourced, not run.

KORVANI_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
KORVANI_BUILD=${KORVANI_BUILD:-$KORVANI_ROOT/build}

# Debian 12 packages the build, the program and the tests need.
KORVANI_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev
  libcurl4-openssl-dev libasound2-dev libcpp-httplib-dev libx11-dev libxdamage-dev
  fonts-liberation2
  xvfb openbox x11-utils xdotool wmctrl imagemagick openssl
)

korvani_missing_packages() {
  local missing=() package
  for package in "${KORVANI_PACKAGES[@]}"; do
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
    echo "  sudo apt-get install -y $missing" >&2
    exit 1
  fi
  echo "Installing: $missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

korvani_build() {
  cmake -S "$KORVANI_ROOT" -B "$KORVANI_BUILD" -G Ninja "$@" >/dev/null
  cmake --build "$KORVANI_BUILD" -j "$(nproc)"
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
