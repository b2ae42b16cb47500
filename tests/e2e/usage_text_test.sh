#!/usr/bin/env bash
# The native program has no message box: malformed arguments, and no arguments at all, print the
# usage text and one line feed to standard error, print nothing else, and exit with 1.
#   usage_text_test.sh PROGRAM
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
program=$1
enter_scratch_folder
printf 'Orvane Command Line Usage\n\n-in <file path>               : Path to file to be byte swapped\n-out <file path>             : Output file path to contain swapped results\n-datasize <size in bits>  : Size in bits of each data block (16, 32, or 64)\n\nexample:\nOrvdane -in "c:\\foo\\filein.bin" -out "c:\\foo\\fileout.bin" -datasize 16\n' >expected.txt
printf '\x01\x02\x03\x04' >a.bin

# Exit code 1, the usage text exactly on standard error, nothing on standard output, no file touched.
shows_usage() {
  "$program" "$@" >stdout.txt 2>stderr.txt
  [ $? -eq 1 ] && cmp -s stderr.txt expected.txt && [ ! -s stdout.txt ] && [ ! -e b.bin ] &&
    [ "$(xxd -p a.bin)" = 01020304 ]
}

# A failed swap prints nothing.
fails_silently() {
  "$program" "$@" >stdout.txt 2>stderr.txt
  [ $? -eq 1 ] && [ ! -s stdout.txt ] && [ ! -s stderr.txt ] && [ ! -e b.bin ]
}

for arguments in "" "-in" "a.bin" "-in a.bin -out b.bin -datasize 0x10" \
  "-in a.bin -out b.bin -datasize 8" "-in a.bin -out b.bin -datasize 128" \
  "-in a.bin -out b.bin -datasize 4294967312" "-in a.bin -out b.bin -datasize 8 -datasize 16" \
  "-in a.bin -out b.bin -datasize" "-in a.bin -out b.bin x" "--in a.bin -out b.bin -datasize 16"; do
  # shellcheck disable=SC2086 # each line is split into its arguments on purpose
  check "usage for: $arguments" shows_usage $arguments
done
check "a swap without -datasize" fails_silently -in a.bin -out b.bin

report
