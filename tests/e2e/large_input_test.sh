#!/usr/bin/env bash
# An input just over 4 GiB does not fit one 32-bit count, nor perhaps memory: it is streamed in pieces
# of a few MiB into the output, or in place into a new file that then replaces it. The input is
# sparse, so making it is quick; natively its holes stay holes, but a stream or the Windows program
# writes it out whole, so the test needs room for two such files and is skipped, saying so, where
# the disk lacks it. For the 32-bit Orvane.exe a file of
# 3 GiB, whose buffer a 32-bit process cannot have, goes the same way; natively, one through a
# pipe.
#   large_input_test.sh PROGRAM...
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
program=("$@")
enter_scratch_folder

size=$((4 * 1024 * 1024 * 1024 + 16))
piece=$((4 * 1024 * 1024))
free=$(df --output=avail -B1 . | tail -n 1)
if [ "$free" -lt $((2 * size + 512 * 1024 * 1024)) ]; then
  echo "SKIPPED: $((free >> 20)) MiB free in $work, too little for two files of 4 GiB"
  exit 77
fi

# 16 known bytes at an offset, and the 16 bytes found there.
put() { printf '\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10' |
  dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
at() { dd if="$1" bs=16 skip="$2" iflag=skip_bytes count=1 status=none | xxd -p; }

# Marks at the start, across the first boundary between pieces and at the end; zeros between.
make_input() {  # make_input FILE [SIZE]
  local bytes=${2:-$size}
  rm -f "$1"
  truncate -s "$bytes" "$1"
  put "$1" 0
  put "$1" $((piece - 8))
  put "$1" $((bytes - 16))
}

# Each mark as it must read after a swap of the given size, and a stretch of zeros after the first.
expect() {  # expect NAME FILE BITS [SIZE]
  local name=$1 file=$2 bytes=${4:-$size} swapped
  case $3 in
    16) swapped=02010403060508070a090c0b0e0d100f ;;
    32) swapped=04030201080706050c0b0a09100f0e0d ;;
    64) swapped=0807060504030201100f0e0d0c0b0a09 ;;
  esac
  check "$name: size" test "$(stat -c %s "$file")" -eq "$bytes"
  check "$name: start" test "$(at "$file" 0)" = $swapped
  check "$name: piece boundary" test "$(at "$file" $((piece - 8)))" = $swapped
  check "$name: end" test "$(at "$file" $((bytes - 16)))" = $swapped
  check "$name: zeros between" test "$(at "$file" 16)" = 00000000000000000000000000000000
}

# Peak memory of the program (under Wine, of the Wine process that runs it), where GNU time can tell
# it: flat, far below the file's size.
peak_kib=""
run() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f %M -o peak.txt "${program[@]}" "$@"
    local status=$?
    peak_kib=$(tail -n 1 peak.txt)
    return $status
  fi
  "${program[@]}" "$@"
}

make_input big.bin
start=$SECONDS
run -in big.bin -out out.bin -datasize 32
check "to another file: exit code" test $? -eq 0
echo "to another file: $((SECONDS - start)) s${peak_kib:+, peak memory $peak_kib KiB}"
[ -n "$peak_kib" ] && check "to another file: memory stays flat" test "$peak_kib" -lt $((64 * 1024))
expect "to another file" out.bin 32
check "to another file: input untouched" test "$(at big.bin $((size - 16)))" = 0102030405060708090a0b0c0d0e0f10
rm -f out.bin

# Natively, by a layout: a 16-byte header kept, then records of a 4-byte text, an integer and two
# floats, the last of which starts at 4 GiB and the one before ends there.
if [ "${program[0]##*/}" != wine-run.sh ]; then
  put big.bin $((size - 32))
  start=$SECONDS
  run -in big.bin -out out.bin -layout '16s 4si2f:*'
  check "by a layout: exit code" test $? -eq 0
  echo "by a layout: $((SECONDS - start)) s${peak_kib:+, peak memory $peak_kib KiB}"
  [ -n "$peak_kib" ] && check "by a layout: memory stays flat" test "$peak_kib" -lt $((64 * 1024))
  record=01020304080706050c0b0a09100f0e0d
  check "by a layout: the header kept" test "$(at out.bin 0)" = 0102030405060708090a0b0c0d0e0f10
  check "by a layout: across a piece boundary" test "$(at out.bin $((piece - 8)))" = \
    0403020108070605090a0b0c100f0e0d
  check "by a layout: the records either side of 4 GiB" test \
    "$(at out.bin $((size - 32)))$(at out.bin $((size - 16)))" = "$record$record"
  check "by a layout: zeros between" test "$(at out.bin 16)" = 00000000000000000000000000000000
  rm -f out.bin
fi

# Natively, the same input through a pipe, whose length the program learns only at its end.
if [ "${program[0]##*/}" != wine-run.sh ]; then
  start=$SECONDS
  run -in - -out out.bin -datasize 32 < <(cat big.bin)
  check "from a pipe: exit code" test $? -eq 0
  echo "from a pipe: $((SECONDS - start)) s${peak_kib:+, peak memory $peak_kib KiB}"
  [ -n "$peak_kib" ] && check "from a pipe: memory stays flat" test "$peak_kib" -lt $((64 * 1024))
  expect "from a pipe" out.bin 32
  rm -f out.bin
fi

printf 'old output, longer than nothing' >existing.bin
truncate -s $((size + 4096)) existing.bin
run -in big.bin -out existing.bin -datasize 16
check "to an existing longer file: exit code" test $? -eq 0
expect "to an existing longer file" existing.bin 16
rm -f existing.bin

start=$SECONDS
run -in big.bin -out big.bin -datasize 64
check "in place: exit code" test $? -eq 0
echo "in place: $((SECONDS - start)) s${peak_kib:+, peak memory $peak_kib KiB}"
[ -n "$peak_kib" ] && check "in place: memory stays flat" test "$peak_kib" -lt $((64 * 1024))
expect "in place" big.bin 64
check "in place: nothing left beside it" test "$(ls | grep -v -x -e big.bin -e peak.txt)" = ""

# Checks come first, as for small files: a size that is not a multiple of the block length.
truncate -s $((size + 2)) big.bin
run -in big.bin -out new.bin -datasize 32
check "odd size: exit code" test $? -eq 1
check "odd size: no output" test ! -e new.bin

# Natively, a sparse file's holes stay holes and are passed over, to another file and in place with
# a range: 64 KiB of data at 2 GiB in a file of 4 GiB - 1, whose 3-byte blocks, and a range at an odd
# offset, straddle the data's start. The data swapped, the holes zeros, next to nothing allocated.
if [ "${program[0]##*/}" != wine-run.sh ]; then
  rm -f big.bin
  data=$((2 * 1024 * 1024 * 1024))
  truncate -s $((4 * 1024 * 1024 * 1024 - 1)) sparse.bin
  head -c 65536 /dev/urandom | dd of=sparse.bin bs=64K seek=$data oflag=seek_bytes conv=notrunc status=none
  bytes() { dd if="$1" bs="$3" skip="$2" iflag=skip_bytes,count_bytes count="$3" status=none | xxd -p | tr -d '\n'; }
  swapped() { bytes "$@" | fold -w "$4" | sed -E "$5" | tr -d '\n'; }
  small() { check "$1: under 2 MiB allocated" test "$(du -k "$2" | cut -f 1)" -lt 2048; }
  start=$SECONDS
  run -in sparse.bin -out out.bin -datasize 24
  check "sparse, to another file: exit code" test $? -eq 0
  echo "sparse, to another file: $((SECONDS - start)) s"
  small "sparse, to another file" out.bin
  check "sparse, to another file: the data swapped" test "$(bytes out.bin $((data - 2)) 65538)" = \
    "$(swapped sparse.bin $((data - 2)) 65538 6 's/(..)(..)(..)/\3\2\1/')"
  check "sparse, to another file: holes as zeros" test "$(bytes out.bin $((data - 4098)) 4096)$(bytes out.bin $((data + 65536)) 4096)" = "$(printf '0%.0s' $(seq 16384))"
  cp --sparse=always sparse.bin before.bin
  start=$SECONDS
  run -in sparse.bin -out sparse.bin -datasize 16 -offset $((data - 15)) -length 32
  check "sparse, a range in place: exit code" test $? -eq 0
  echo "sparse, a range in place: $((SECONDS - start)) s"
  small "sparse, a range in place" sparse.bin
  check "sparse, a range in place: the range swapped" test "$(bytes sparse.bin $((data - 15)) 32)" = \
    "$(swapped before.bin $((data - 15)) 32 4 's/(..)(..)/\2\1/')"
  check "sparse, a range in place: the rest as it was" \
    cmp -s <(tail -c +$((data + 18)) sparse.bin) <(tail -c +$((data + 18)) before.bin)
  rm -f sparse.bin before.bin out.bin
fi

# A 32-bit Windows process cannot have a buffer of 3 GiB: such a file, below 4 GiB, is swapped in
# pieces as well, for real rather than through a seam. A 64-bit program can have the buffer.
if [ "${ORVANE_PROGRAM_BITS:-}" = 32 ]; then
  rm -f big.bin
  make_input mid.bin $((3 * 1024 * 1024 * 1024))
  run -in mid.bin -out out.bin -datasize 64
  check "3 GiB, 32-bit: exit code" test $? -eq 0
  echo "3 GiB, 32-bit${peak_kib:+: peak memory $peak_kib KiB}"
  [ -n "$peak_kib" ] && check "3 GiB, 32-bit: memory stays flat" test "$peak_kib" -lt $((64 * 1024))
  expect "3 GiB, 32-bit" out.bin 64 $((3 * 1024 * 1024 * 1024))
fi

report
