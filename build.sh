#!/usr/bin/env bash
# Zorvane: install what is missing, build, and then run the game or the tests.
#   ./build.sh run    build and run Skirmora on the demo scene
#   ./build.sh test   build and run every test (also once under ASan/UBSan), then
#                     fuzz each file reader for a short time (fuzz/run.sh)
set -euo pipefail
cd "$(dirname "$0")"
mode=${1:-run}

packages=(build-essential cmake pkg-config libsdl2-dev libgl-dev libgl1-mesa-dri
          libpng-dev libjpeg-dev zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
          libfreetype-dev fonts-dejavu-core xvfb xauth xdotool zenity clang libclang-rt-14-dev)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}; install them as root (apt-get install ...)." >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

configure_and_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

# Runs a command on the current X display, or on a private Xvfb when there is none.
with_display() {
  if [ -n "${DISPLAY:-}" ] && [ "${CI:-}" != "true" ]; then
    "$@"
  else
    xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
  fi
}

# Runs Skirmora in the current folder on a display without a screen: waits
# for its main loop, lets it play, holds F5 until the screenshot is written,
# then holds ESC until the game has quit, and says where the picture is.
# The game is ended on every way out (a stuck game, Ctrl+C, kill), and after
# five minutes in any case.
play_headless() {
  rm -f zvlog.txt
  local before
  before=$(ls Skirmora_*.bmp 2> /dev/null || true)
  timeout -k 5 300 ./Skirmora &
  pid=$!
  local i shot=""
  alive() { kill -0 "$pid" 2> /dev/null; }
  # timeout passes SIGTERM on to the game, which runs in timeout's group.
  end_game() {
    alive || return 0
    kill -TERM "$pid" 2> /dev/null
    for i in $(seq 30); do alive || return 0; sleep 0.1; done
    kill -KILL -- "-$pid" 2> /dev/null
  }
  trap end_game EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM HUP
  for i in $(seq 1200); do grep -q "Main Loop" zvlog.txt 2> /dev/null && break; alive || break; sleep 0.1; done
  sleep 5
  local window
  window=$(xdotool search --name "Zorvane DeathMatch" 2> /dev/null | head -1)
  [ -n "$window" ] && xdotool windowfocus --sync "$window"
  xdotool keydown F5
  for i in $(seq 600); do
    shot=$(ls Skirmora_*.bmp 2> /dev/null | grep -vxF -- "$before" | head -1 || true)
    [ -n "$shot" ] && break
    alive || break
    sleep 0.05
  done
  xdotool keyup F5
  sleep 0.5
  xdotool keydown Escape
  for i in $(seq 1200); do alive || break; sleep 0.05; done
  xdotool keyup Escape
  local status=0
  wait "$pid" || status=$?
  echo "Skirmora ended with exit code $status (its log: $PWD/zvlog.txt)"
  if [ -n "$shot" ]; then
    echo "Screenshot: $PWD/$shot"
  else
    echo "No screenshot was taken."
  fi
  return "$status"
}

install_missing
case "$mode" in
  run)
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cd build/bin
    if [ -n "${DISPLAY:-}" ] && [ "${CI:-}" != "true" ]; then
      ./Skirmora
    else
      echo "No display: playing a few seconds under Xvfb, then a screenshot (F5) and ESC."
      xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$(declare -f play_headless); play_headless"
    fi
    ;;
  test)
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    with_display ctest --test-dir build --output-on-failure -j"$(nproc)"
    echo "== Again with AddressSanitizer and UndefinedBehaviorSanitizer"
    configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=ON -DZV_BUILD_BENCHMARKS=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      with_display ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
    echo "== Fuzzing every reader of outside data (libFuzzer)"
    fuzz/run.sh
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
