#!/usr/bin/env bash
# Builds every configuration and runs every test: natively under the sanitizers, then each Windows
# build under Wine in a virtual X server, as far as this host can run it. Exits non-zero on any
# failure, and when no Windows build could be tested under Wine at all.
#
# Both Windows builds are always made and their files checked (header, resources, imports). Under
# Wine run the builds the host can run (scripts/wine-builds.sh finds out by running 32-bit code):
# Orvane.exe needs a kernel that executes 32-bit code, Orvane64.exe does not. To choose instead:
#   ORVANE_WINDOWS_BUILDS="windows windows64" | windows | windows64   bash scripts/test.sh
set -u
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1

# The steps run in chains: a step runs only when the steps before it in its chain passed (a build
# whose configuration failed, tests of a build that failed, the check of packages never made). A
# failed step is said at once and again at the end; the steps it stopped are said as skipped.
failures=()
chain() { chain_failed=""; }
run() {
  if [ -n "$chain_failed" ]; then
    echo "== skipped, as '$chain_failed' failed: $*"
    return 1
  fi
  echo "== $*"
  "$@" && return 0
  echo "FAILED (exit status $?): $*"
  chain_failed="$*"
  failures+=("$*")
  return 1
}

# The Windows builds: CMake preset, executable, Wine prefix kind.
# shellcheck source=scripts/variants.sh
source scripts/variants.sh
presets=("${windows_builds[@]}")

# Which of them run under Wine here, and why the others do not.
declare -A why_not
while read -r kind verdict; do
  for preset in "${presets[@]}"; do
    [ "${build_wine[$preset]}" = "$kind" ] && [ "$verdict" != yes ] && why_not[$preset]=${verdict#no: }
  done
done < <(bash scripts/wine-builds.sh)
tested=()
if [ -n "${ORVANE_WINDOWS_BUILDS:-}" ]; then
  for preset in "${presets[@]}"; do
    if [[ " $ORVANE_WINDOWS_BUILDS " == *" $preset "* ]]; then
      tested+=("$preset")
    elif [ -z "${why_not[$preset]:-}" ]; then
      why_not[$preset]="not chosen in ORVANE_WINDOWS_BUILDS"
    fi
  done
else
  for preset in "${presets[@]}"; do
    [ -z "${why_not[$preset]:-}" ] && tested+=("$preset")
  done
fi

plan() {
  for preset in "${presets[@]}"; do
    if [[ " ${tested[*]} " == *" $preset "* ]]; then
      echo "  ${build_exe[$preset]} ($preset): all tests under ${build_wine[$preset]} Wine${why_not[$preset]:+, chosen although ${why_not[$preset]}}"
    else
      echo "  ${build_exe[$preset]} ($preset): NOT tested under Wine (${why_not[$preset]}); its file checks only"
    fi
  done
}
echo "Windows builds:"
plan

chain
run cmake --preset linux-asan
run cmake --build --preset linux-asan -j "$(nproc)"
run ctest --preset linux-asan

# The native command line under valgrind's memcheck, in an optimised build without the sanitizers.
chain
run cmake --preset linux
run cmake --build --preset linux -j "$(nproc)" --target orvane
run bash scripts/memcheck.sh build/linux/src/app/orvane

# Each libFuzzer target for a minute from the seed corpus.
chain
run bash scripts/fuzz.sh 60

for preset in "${presets[@]}"; do
  chain
  run cmake --preset "$preset"
  run cmake --build --preset "$preset" -j "$(nproc)"
  if [[ " ${tested[*]} " == *" $preset "* ]]; then
    run env ORVANE_WINE_ARCH="${build_wine[$preset]}" \
      xvfb-run -a -s '-screen 0 1024x768x24' scripts/with-wine.sh ctest --preset "$preset"
  else
    # What needs no Wine: the executable's file read as a PE file.
    run ctest --preset "$preset" -L static
  fi
done
chain
run bash scripts/package.sh
run bash scripts/check-packages.sh

echo
echo "Windows builds:"
plan
if [ ${#tested[@]} -eq 0 ]; then
  echo "FAILED: no Windows build was tested under Wine"
  exit 1
fi
if [ ${#failures[@]} -ne 0 ]; then
  printf 'FAILED: %s\n' "${failures[@]}"
  echo "(see the output above; the steps after each in its chain were skipped)"
  exit 1
fi
echo "All tests passed."
