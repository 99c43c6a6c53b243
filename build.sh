#!/usr/bin/env bash
# Zorvane: install what is missing, build, and then run the game or the tests.
#   ./build.sh run    build and run Skirmora on the demo scene
#   ./build.sh test   build and run every test (also once under ASan/UBSan)
set -euo pipefail
cd "$(dirname "$0")"
mode=${1:-run}

packages=(build-essential cmake pkg-config libsdl2-dev libgl-dev libgl1-mesa-dri
          libpng-dev libjpeg-dev zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
          libfreetype-dev fonts-dejavu-core xvfb xauth)

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

install_missing
case "$mode" in
  run)
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    if [ -x build/bin/Skirmora ]; then
      cd build/bin && with_display ./Skirmora
    else
      echo "The game is not built yet: only the engine and its tests exist so far."
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
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
