#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and the machine lacks.
# Needs root (or sudo) only when something is missing.
set -eu

packages=(
  cmake make g++                          # native build
  g++-mingw-w64-i686 binutils-mingw-w64-i686  # Windows build
  wine wine32                              # runs the Windows build
  xvfb xauth                               # a virtual X server for the windows it shows
  imagemagick xdotool                      # scripts/screenshot.sh: find the dialog, save a PNG
  doctest-dev                              # the test framework, for both builds
  binutils xxd                             # objcopy as an independent reference; hex dumps
  time                                     # peak memory of the program in the large-file test
  eatmydata                                # bench/run.sh: the swap in place timed without its flush
  libbenchmark-dev                         # the in-memory micro-benchmark (bench/)
  clang libclang-rt-14-dev valgrind util-linux  # fuzzing (libFuzzer), memcheck; setpriv
  python3                                  # draws the icon; reads Orvane.exe's PE file in the tests
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
# wine32 is an i386 package.
$sudo dpkg --add-architecture i386
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
