#!/usr/bin/env bash
# The native program has no message box: malformed arguments, and no arguments at all, print the
# usage text and one line feed to standard error, print nothing else, and exit with 1.
#   usage_text_test.sh PROGRAM
set -u
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'Orvane Command Line Usage\n\n-in <file path>               : Path to file to be byte swapped\n-out <file path>             : Output file path to contain swapped results\n-datasize <size in bits>  : Size in bits of each data block (16, 32, or 64)\n\nexample:\nOrvdane -in "c:\\foo\\filein.bin" -out "c:\\foo\\fileout.bin" -datasize 16\n' >expected.txt
printf '\x01\x02\x03\x04' >a.bin

passed=0
failed=0
expect_usage() {
  "$program" "$@" >stdout.txt 2>stderr.txt
  local status=$?
  if [ $status -eq 1 ] && cmp -s stderr.txt expected.txt && [ ! -s stdout.txt ] && [ ! -e b.bin ] &&
    [ "$(xxd -p a.bin)" = 01020304 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $* (exit $status)"
  fi
}

expect_usage
expect_usage -in
expect_usage a.bin
expect_usage -in a.bin -out b.bin -datasize 0x10
expect_usage -in a.bin -out b.bin -datasize 8
expect_usage -in a.bin -out b.bin -datasize 128
expect_usage -in a.bin -out b.bin -datasize 4294967312
expect_usage -in a.bin -out b.bin -datasize 8 -datasize 16
expect_usage -in a.bin -out b.bin -datasize
expect_usage -in a.bin -out b.bin x
expect_usage --in a.bin -out b.bin -datasize 16

# A failed swap prints nothing.
"$program" -in a.bin -out b.bin >stdout.txt 2>stderr.txt
if [ $? -eq 1 ] && [ ! -s stdout.txt ] && [ ! -s stderr.txt ] && [ ! -e b.bin ]; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  echo "FAILED: a swap without -datasize"
fi

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
