#!/usr/bin/env bash
# Builds Orvane.exe and the native orvane, swaps the bundled sample (eight big-endian 32-bit
# integers) with each, and shows the bytes before and after.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset windows >/dev/null && cmake --build --preset windows -j "$(nproc)" >/dev/null
cmake --preset linux >/dev/null && cmake --build --preset linux -j "$(nproc)" >/dev/null

sample=samples/big-endian-int32.bin
out=build/demo
mkdir -p "$out"
echo "Before ($sample):"
xxd "$sample"

echo
echo "After: wine build/windows/src/app/Orvane.exe -in $sample -out $out/swapped-windows.bin -datasize 32"
scripts/with-wine.sh wine build/windows/src/app/Orvane.exe -in "$sample" -out "$out/swapped-windows.bin" -datasize 32
echo "exit code $?"
xxd "$out/swapped-windows.bin"

echo
echo "After: build/linux/src/app/orvane -in $sample -out $out/swapped-linux.bin -datasize 32"
build/linux/src/app/orvane -in "$sample" -out "$out/swapped-linux.bin" -datasize 32
echo "exit code $?"
xxd "$out/swapped-linux.bin"
