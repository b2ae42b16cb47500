#!/usr/bin/env bash
# Installs, from Debian's packages, what the machine lacks of one of three sets (needs root, or
# sudo, only when something is missing):
#   install-deps.sh package  what scripts/package.sh needs: the native and both Windows builds
#                            without their tests, Debian's packaging tools, git, Python
#   install-deps.sh demo     what scripts/demo.sh needs: the native build and the one Windows build
#                            that this host runs under Wine, and a hex dump
#   install-deps.sh          everything: both Windows builds, every test, the benchmarks, the packages
set -eu
here=$(cd "$(dirname "$0")" && pwd)

native_build=(cmake make g++)
packaging=(
  g++-mingw-w64-i686 binutils-mingw-w64-i686      # Orvane.exe, 32-bit Windows
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64  # Orvane64.exe, 64-bit Windows
  git dpkg-dev     # the commit's time and sources; the .deb's fields
  python3          # the .zip
)

# The Windows build that runs here: Orvane.exe under 32-bit Wine, an i386 package, only where the
# kernel executes 32-bit code (some x86-64 hosts cannot, and there it would only be in the way);
# otherwise Orvane64.exe under 64-bit Wine.
if bash "$here/wine-builds.sh" --runs-32-bit-code; then
  windows_build=(g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386)
else
  windows_build=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64)
fi

packages=(
  "${native_build[@]}"                    # native build
  doctest-dev python3                     # every build's configuration with its tests looks for them
  xxd                                     # hex dumps
  "${windows_build[@]}"                   # the Windows build this host runs, and its Wine
)
case ${1:-all} in
  package) packages=("${native_build[@]}" "${packaging[@]}") ;;
  demo) ;;
  all)
    packages+=(
      "${packaging[@]}"                        # both Windows builds, the packages
      wine64                                   # runs the 64-bit build
      fonts-wine fonts-liberation              # Wine's own fonts (Marlett), and Arial's widths
      xvfb xauth                               # a virtual X server for the windows it shows
      imagemagick xdotool                      # scripts/screenshot.sh: find the dialog, save a PNG
      binutils                                 # objcopy as an independent reference
      time                                     # peak memory of the program in the large-file test
      acl attr                                 # access control lists and attributes a swap in place keeps
      fuse3 libfuse3-dev pkgconf e2fsprogs     # the file system that loses power (tests/faults); chattr
      eatmydata                                # bench/run.sh: the swap in place timed without its flush
      hyperfine                                # bench/run.sh: a small file, one process per swap
      libbenchmark-dev                         # the in-memory micro-benchmark (bench/)
      hyperfine python3-numpy                  # bench/run.sh's layouts, and numpy doing the same
      clang libclang-rt-14-dev valgrind util-linux  # fuzzing (libFuzzer), memcheck; setpriv
      python3-pefile                           # draws the icon; reads the executables' PE files
      mandoc groff-base                        # lint the manual page
      bash-completion                          # runs the completion script in its test
      file lintian unzip diffoscope-minimal    # the packages' checks; what differs when a rebuild does
    )
    ;;
  *) echo "install-deps.sh: the set is 'package', 'demo' or 'all', not '$1'" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  [[ " ${missing[*]} " == *" $package "* ]] && continue
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
if [[ " ${missing[*]} " == *:i386* ]]; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
