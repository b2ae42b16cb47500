#!/usr/bin/env bash
# Retakes the figures the native swap to another file is held to, each a table of bench/run.sh
# headed by the command that retakes it alone: quiet, 256 MiB at 16, 32 and 64 bits against `cat`;
# busy (2 GiB of other data written right before each command), 256 MiB and 1 GiB at 32 bits against
# `cat`, and 256 MiB at 16 bits against `dd conv=swab bs=4M`; in place, flushed, against a copy made
# with `cat`, flushed with `sync` and renamed with `mv`.
#   bench/goals.sh
set -eu
run=$(dirname "$0")/run.sh
BENCH_COLUMNS="cat orvane" RUNS=9 WIDTHS="16 32 64" bash "$run" 256
for mib in 256 1024; do
  PRESSURE_MIB=2048 BENCH_COLUMNS="cat orvane" RUNS=7 WIDTHS=32 bash "$run" $mib
done
PRESSURE_MIB=2048 BENCH_COLUMNS="cat orvane dd" RUNS=7 WIDTHS=16 bash "$run" 256
BENCH_COLUMNS="cat inplace flushed catsync" RUNS=7 WIDTHS=32 bash "$run" 256
