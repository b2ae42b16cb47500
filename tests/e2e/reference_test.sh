#!/usr/bin/env bash
# The built program against an independent reference, objcopy's --reverse-bytes, on random files of
# many sizes, for each data size; natively also on streams.
#   reference_test.sh PROGRAM...   (the command that runs orvane, e.g. `wine Orvane.exe`)
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
program=("$@")
enter_scratch_folder

for size in 8 16 64 120 1000 4096 65528 65536 100000 1048576 1048584; do
  head -c "$size" /dev/urandom >in.bin
  for bits in 16 32 64; do
    bytes=$((bits / 8))
    [ $((size % bytes)) -eq 0 ] || continue
    objcopy -I binary -O binary --reverse-bytes=$bytes in.bin expected.bin
    rm -f out.bin
    "${program[@]}" -in in.bin -out out.bin -datasize $bits
    check "size $size, $bits bits: exit code $?" test $? -eq 0
    check "size $size, $bits bits: output" cmp -s out.bin expected.bin
  done
done

# Natively, streams: a random stream piped from standard input to standard output, more than two
# pieces long and arriving as the pipe delivers it, and the same bytes from a named pipe.
if [ "${program[0]##*/}" != wine-run.sh ]; then
  head -c $((9 * 1024 * 1024 + 24)) /dev/urandom >in.bin
  mkfifo fifo
  for bits in 16 32 64; do
    objcopy -I binary -O binary --reverse-bytes=$((bits / 8)) in.bin expected.bin
    cat in.bin | "${program[@]}" -in - -out - -datasize $bits >out.bin
    check "pipe, $bits bits: exit code" test "${PIPESTATUS[1]}" -eq 0
    check "pipe, $bits bits: output" cmp -s out.bin expected.bin
    cat in.bin >fifo &
    "${program[@]}" -in fifo -out out.bin -datasize $bits
    check "named pipe, $bits bits: exit code" test $? -eq 0
    check "named pipe, $bits bits: output" cmp -s out.bin expected.bin
  done
fi

# In place, against the same reference.
head -c 4104 /dev/urandom >inplace.bin
objcopy -I binary -O binary --reverse-bytes=8 inplace.bin expected.bin
"${program[@]}" -in inplace.bin -out inplace.bin -datasize 64
check "in place: exit code" test $? -eq 0
check "in place: output" cmp -s inplace.bin expected.bin

report
