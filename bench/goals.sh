#!/usr/bin/env bash
# Retakes the figures the native swap is held to, each a table of bench/run.sh headed by the
# command that retakes it alone: quiet, 256 MiB at 16, 32 and 64 bits, to an existing output against
# `cat` to one, and to a new output against `cat` and `dd bs=256K` to one; busy (2 GiB of other
# data written right before each command), 256 MiB and 1 GiB at 32 bits, existing and new, against
# `cat`, and 256 MiB at 16 bits against `dd conv=swab bs=4M`; a stream from a pipe to a new file
# against `cat | cat`; in place, flushed, against a copy made with `cat`, flushed with `sync` and
# renamed with `mv`; a 4 KiB file into a new one, one process, against `cp`; Orvane.exe under Wine
# against its floor.
#   bench/goals.sh
set -eu
run=$(dirname "$0")/run.sh
BENCH_COLUMNS="cat orvane catnew new ddnew" RUNS=9 WIDTHS="16 32 64" bash "$run" 256
for mib in 256 1024; do
  PRESSURE_MIB=2048 BENCH_COLUMNS="cat orvane catnew new" RUNS=7 WIDTHS=32 bash "$run" $mib
done
PRESSURE_MIB=2048 BENCH_COLUMNS="cat orvane dd" RUNS=7 WIDTHS=16 bash "$run" 256
BENCH_COLUMNS="catpipe pipe" RUNS=9 WIDTHS=32 bash "$run" 256
BENCH_COLUMNS="cat inplace flushed catsync" RUNS=7 WIDTHS=32 bash "$run" 256
BENCH_SMALL=only bash "$run"
BENCH_COLUMNS="wfloor wine" RUNS=7 WIDTHS="16 32 64" bash "$run" 256
