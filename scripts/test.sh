#!/usr/bin/env bash
# Builds both configurations and runs every test: natively under the sanitizers, then the Windows
# build under Wine in a virtual X server. Exits non-zero on any failure.
set -u
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1

failed=0
run() {
  echo "== $*"
  "$@" || failed=1
}

run cmake --preset linux-asan
run cmake --build --preset linux-asan -j "$(nproc)"
run ctest --preset linux-asan

# The native command line under valgrind's memcheck, in an optimised build without the sanitizers.
run cmake --preset linux
run cmake --build --preset linux -j "$(nproc)" --target orvane
run bash scripts/memcheck.sh build/linux/src/app/orvane

# Each libFuzzer target for a minute from the seed corpus.
run bash scripts/fuzz.sh 60

run cmake --preset windows
run cmake --build --preset windows -j "$(nproc)"
run xvfb-run -a -s '-screen 0 1024x768x24' scripts/with-wine.sh ctest --preset windows
run bash scripts/package.sh && run bash scripts/check-packages.sh

if [ $failed -ne 0 ]; then
  echo "FAILED: see the output above"
  exit 1
fi
echo "All tests passed."
