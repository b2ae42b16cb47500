#!/usr/bin/env bash
# The built program against an independent reference, objcopy's --reverse-bytes, on random files of
# many sizes, for each data size; natively also on streams. Orvane.exe takes 16, 32 and 64 bits; the
# native program any whole number of bytes, here also 48 and 128 bits, and 24, which objcopy refuses
# (it reverses even numbers of bytes only): for that one the reference is this test's own.
#   reference_test.sh PROGRAM...   (the command that runs orvane, e.g. `wine Orvane.exe`)
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
program=("$@")
enter_scratch_folder

native=no
[ "${program[0]##*/}" != wine-run.sh ] && native=yes
widths=(16 32 64)
[ $native = yes ] && widths+=(24 48 128)

# reference IN BITS: IN with each block reversed, into expected.bin.
reference() {
  local bytes=$(($2 / 8))
  if [ $((bytes % 2)) -eq 0 ]; then
    objcopy -I binary -O binary --reverse-bytes="$bytes" "$1" expected.bin
  else
    perl -0777 -pe "s/(.{$bytes})/reverse \$1/gse" "$1" >expected.bin
  fi
}

for size in 8 16 64 120 1000 4096 65528 65536 100000 1048576 1048584; do
  head -c "$size" /dev/urandom >in.bin
  for bits in "${widths[@]}"; do
    bytes=$((bits / 8))
    [ $((size % bytes)) -eq 0 ] || continue
    reference in.bin "$bits"
    rm -f out.bin
    "${program[@]}" -in in.bin -out out.bin -datasize "$bits"
    check "size $size, $bits bits: exit code $?" test $? -eq 0
    check "size $size, $bits bits: output" cmp -s out.bin expected.bin
  done
done

# Natively, streams: a random stream piped from standard input to standard output, more than two
# pieces long and arriving as the pipe delivers it, and the same bytes from a named pipe, to a file
# and to standard output.
if [ $native = yes ]; then
  head -c $((9 * 1024 * 1024 + 48)) /dev/urandom >in.bin
  mkfifo fifo
  for bits in "${widths[@]}"; do
    reference in.bin "$bits"
    cat in.bin | "${program[@]}" -in - -out - -datasize "$bits" >out.bin
    check "pipe, $bits bits: exit code" test "${PIPESTATUS[1]}" -eq 0
    check "pipe, $bits bits: output" cmp -s out.bin expected.bin
    cat in.bin >fifo &
    "${program[@]}" -in fifo -out out.bin -datasize "$bits"
    check "named pipe, $bits bits: exit code" test $? -eq 0
    check "named pipe, $bits bits: output" cmp -s out.bin expected.bin
    cat in.bin >fifo &
    "${program[@]}" -in fifo -out - -datasize "$bits" >out.bin
    check "named pipe to standard output, $bits bits: exit code" test $? -eq 0
    check "named pipe to standard output, $bits bits: output" cmp -s out.bin expected.bin
  done
fi

# In place, against the same reference.
head -c 4176 /dev/urandom >original.bin
for bits in "${widths[@]}"; do
  cp original.bin inplace.bin
  reference inplace.bin "$bits"
  "${program[@]}" -in inplace.bin -out inplace.bin -datasize "$bits"
  check "in place, $bits bits: exit code" test $? -eq 0
  check "in place, $bits bits: output" cmp -s inplace.bin expected.bin
done

report
