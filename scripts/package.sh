#!/usr/bin/env bash
# Makes the packages into dist/, with CPack: the .deb of the native command line (program, manual
# page, copyright and changelog), the .zip of the two Windows executables (32-bit Orvane.exe and
# 64-bit Orvane64.exe) with the README and the license, and SHA256SUMS of both.
#   scripts/package.sh            (scripts/check-packages.sh then checks what they hold)
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs" >/dev/null
(cd build/linux && cpack -G DEB >/dev/null)

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" >/dev/null
# The 64-bit build packages the 32-bit executable beside its own.
cmake --preset windows64 -DORVANE_PACKAGE_ALSO="$PWD/build/windows/src/app/Orvane.exe" >/dev/null
cmake --build --preset windows64 -j "$jobs" >/dev/null
(cd build/windows64 && cpack -G ZIP >/dev/null)

rm -rf dist
mkdir dist
version=$(sed -n 's/^project(Orvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
cp "build/linux/orvane_${version}_amd64.deb" "build/windows64/orvane-$version-windows.zip" dist/
(cd dist && sha256sum -- *.deb *.zip >SHA256SUMS)
ls -l dist
