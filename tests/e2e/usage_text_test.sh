#!/usr/bin/env bash
# The native program has no message box: malformed arguments, and no arguments at all, print the
# usage text and one line feed to standard error, print nothing else, and exit with 1. Asked for
# help or its version, it prints them on standard output and exits with 0.
#   usage_text_test.sh PROGRAM VERSION   (VERSION: the project's, from the build)
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
program=$1
version=$2
enter_scratch_folder
printf 'Orvane Command Line Usage\n\n-in <file path>               : Path to file to be byte swapped\n-out <file path>             : Output file path to contain swapped results\n-datasize <size in bits>  : Size in bits of each data block (16, 32, or 64)\n\nexample:\nOrvdane -in "c:\\foo\\filein.bin" -out "c:\\foo\\fileout.bin" -datasize 16\n' >expected.txt
printf '\x01\x02\x03\x04' >a.bin

# Exit code 1, the usage text exactly on standard error, nothing on standard output, no file touched.
shows_usage() {
  "$program" "$@" >stdout.txt 2>stderr.txt
  [ $? -eq 1 ] && cmp -s stderr.txt expected.txt && [ ! -s stdout.txt ] && [ ! -e b.bin ] &&
    [ "$(xxd -p a.bin)" = 01020304 ]
}

# prints_on_standard_output EXPECTED-FILE ARGS...: exit code 0, the text exactly, nothing else said.
prints_on_standard_output() {
  local expected=$1
  shift
  "$program" "$@" >stdout.txt 2>stderr.txt
  [ $? -eq 0 ] && cmp -s stdout.txt "$expected" && [ ! -s stderr.txt ]
}

for arguments in "" "-in" "a.bin" "-in a.bin -out b.bin -datasize 0x10" \
  "-in a.bin -out b.bin -datasize 8" "-in a.bin -out b.bin -datasize 128" \
  "-in a.bin -out b.bin -datasize 4294967312" "-in a.bin -out b.bin -datasize 8 -datasize 16" \
  "-in a.bin -out b.bin -datasize" "-in a.bin -out b.bin x" "--in a.bin -out b.bin -datasize 16"; do
  # shellcheck disable=SC2086 # each line is split into its arguments on purpose
  check "usage for: $arguments" shows_usage $arguments
done
# Help: the usage text, then what only the native program offers. The version: the project's own.
{
  cat expected.txt
  echo
  printf '%s\n' \
    "'-' as the input reads standard input, as the output writes standard output; a named pipe" \
    "as the input is read the same way, until it ends." "" \
    "-h, --help                    : Show this text" \
    "--version                     : Show the version" "" \
    "See orvane(1)."
} >help.txt
check "-h" prints_on_standard_output help.txt -h
check "--help" prints_on_standard_output help.txt --help
echo "orvane $version" >version.txt
check "--version: orvane $version" prints_on_standard_output version.txt --version

report
