#!/usr/bin/env bash
# Builds the Windows program and the native orvane, swaps the bundled sample (eight big-endian 32-bit
# integers) with each, and shows the bytes before and after. The Windows program is the build this
# host can run under Wine: Orvane.exe (32-bit), or Orvane64.exe where 32-bit code cannot run.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh demo
# shellcheck source=scripts/variants.sh
source scripts/variants.sh
arch=$(bash scripts/wine-builds.sh --usable | head -n 1)
if ! preset=$(build_running_under "$arch"); then
  echo "No Wine can run a Windows build on this host:" >&2
  bash scripts/wine-builds.sh >&2
  exit 1
fi
exe=${build_exe[$preset]}
cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$(nproc)" >/dev/null
cmake --preset linux >/dev/null && cmake --build --preset linux -j "$(nproc)" >/dev/null

sample=samples/big-endian-int32.bin
out=build/demo
mkdir -p "$out"
echo "Before ($sample):"
xxd "$sample"

echo
echo "After, with $exe, the build this host runs ($arch Wine):"
echo "  wine build/$preset/src/app/$exe -in $sample -out $out/swapped-windows.bin -datasize 32"
status=0
ORVANE_WINE_ARCH=$arch scripts/with-wine.sh wine "build/$preset/src/app/$exe" \
  -in "$sample" -out "$out/swapped-windows.bin" -datasize 32 || status=$?
echo "exit code $status"
xxd "$out/swapped-windows.bin"

echo
echo "After: build/linux/src/app/orvane -in $sample -out $out/swapped-linux.bin -datasize 32"
status=0
build/linux/src/app/orvane -in "$sample" -out "$out/swapped-linux.bin" -datasize 32 || status=$?
echo "exit code $status"
xxd "$out/swapped-linux.bin"
