#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then
# configures and builds Kiv in build/ (or the directory given as $1 with the
# CMake options that follow). The build runs CMAKE_BUILD_PARALLEL_LEVEL jobs
# when it is set, else one per processor; KIV_TARGETS (blank-separated)
# builds those targets alone, else everything.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
if ! [[ "$jobs" =~ ^[1-9][0-9]*$ ]]; then
  echo "setup.sh: CMAKE_BUILD_PARALLEL_LEVEL must be a positive whole number, not '$jobs'" >&2
  exit 2
fi

packages=(g++ cmake ninja-build ccache clang-format libgtest-dev libbenchmark-dev libssl-dev lua5.4 time)
packages+=(xdg-utils)   # browse opens URLs and files through xdg-open
packages+=(xvfb xclip)  # the clipboard's X test runs its own X server
packages+=(libcurl4-openssl-dev)  # read and write of http(s) URLs go through libcurl
packages+=(zlib1g-dev)  # the compression tests and benchmarks use zlib as their oracle
packages+=(libpng-dev libjpeg62-turbo-dev libgif-dev libtiff-dev)  # the image codecs
packages+=(python3-pil)  # the image codec tests and benchmark use PIL as their oracle
packages+=(pkg-config libvterm-dev tmux python3)  # the console tests: a terminal emulator, tmux, the pty bench
packages+=(unicode-data)  # tools/make_char_width.py reads its tables
packages+=(tzdata)  # the date tests compare with python3's zoneinfo under named zones
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

build_dir=${1:-build}
shift || true
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
# shellcheck disable=SC2086  # the targets are words
ninja -C "$build_dir" -j "$jobs" ${KIV_TARGETS:-}
