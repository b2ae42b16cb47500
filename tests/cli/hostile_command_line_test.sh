#!/usr/bin/env bash
# Command lines as users type them, hostile ones included, against the native program: each either
# says what is wrong with it and exits with 1 touching no file, or runs the swap and gives its result.
#   hostile_command_line_test.sh PROGRAM
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
program=$1
enter_scratch_folder

printf '\x01\x02\x03\x04\x05\x06\x07\x08' >original.bin
swapped16=0201040306050807
try_help="Try 'orvane --help' for more information."
sizes="it must be a multiple of 8 from 16 to 1024"

# A fresh case folder holding a.bin, the original.
fresh() {
  cd "$work"
  rm -rf case
  mkdir case
  cp original.bin case/a.bin
  cd case
}
listing() { find . -mindepth 1 | LC_ALL=C sort | tr '\n' ' '; }

# usage_error NAME REASON ARGS...: on standard error the reason and the pointer to the help, exit
# code 1, a.bin alone and untouched.
usage_error() {
  local name=$1 reason=$2
  shift 2
  fresh
  "$program" "$@" >../stdout.txt 2>../stderr.txt
  local status=$?
  check "$name: exit code $status" test $status -eq 1
  check "$name: says why" test "$(cat ../stderr.txt)" = "orvane: $reason"$'\n'"$try_help"
  check "$name: nothing on standard output" test ! -s ../stdout.txt
  check "$name: a.bin untouched" cmp -s a.bin ../original.bin
  check "$name: no file created" test "$(listing)" = "./a.bin "
}

# swap_result NAME EXIT-CODE OUTPUT ARGS...: the swap ran and gave EXIT-CODE; on success OUTPUT holds
# the swapped original and nothing is said, on failure nothing but a.bin exists and one line on
# standard error says why.
swap_result() {
  local name=$1 expected=$2 output=$3
  shift 3
  fresh
  "$program" "$@" >../stdout.txt 2>../stderr.txt
  local status=$?
  check "$name: exit code $status" test $status -eq "$expected"
  check "$name: nothing on standard output" test ! -s ../stdout.txt
  if [ "$expected" -eq 0 ]; then
    check "$name: silent" test ! -s ../stderr.txt
    check "$name: swapped" test "$(xxd -p "$output")" = "$swapped16"
  else
    check "$name: one line saying why" test "$(wc -l <../stderr.txt)" -eq 1 -a \
      "$(head -c 8 ../stderr.txt)" = "orvane: "
    check "$name: no file created" test "$(listing)" = "./a.bin "
  fi
  [ "$output" = a.bin ] || check "$name: a.bin untouched" cmp -s a.bin ../original.bin
}

# An option given as the only argument, or with its value missing; empty arguments.
for option in -in -out -datasize /IN /Out /DATASIZE; do
  usage_error "$option alone" "option '$option' requires an argument" "$option"
done
usage_error "an empty string alone" "unrecognized option ''" ""
usage_error "two empty strings" "unrecognized option ''" "" ""
usage_error "option and value in one argument" "unrecognized option '-in a.bin'" \
  "-in a.bin" -out b.bin -datasize 16
usage_error "empty data size" "invalid -datasize '': $sizes" -in a.bin -out b.bin -datasize ""
usage_error "data size of spaces" "invalid -datasize '   ': $sizes" \
  -in a.bin -out b.bin -datasize "   "
usage_error "trailing empty argument" "unrecognized option ''" -in a.bin -out b.bin -datasize 16 ""
usage_error "an option spelled with a space" "unrecognized option '-in '" \
  "-in " a.bin -out b.bin -datasize 16
usage_error "an option with a quote" "unrecognized option '-in\"'" '-in"' a.bin -out b.bin -datasize 16
usage_error "an option in non-ASCII letters" $'unrecognized option \'-\xc3\xaen\'' \
  $'-\xc3\xaen' a.bin -out b.bin -datasize 16
usage_error "an option with a quote and a direction override" \
  "unrecognized option '-it\\'s\\xe2\\x80\\xaex'" $'-it\'s\xe2\x80\xaex' a.bin -out b.bin -datasize 16

# Values the parser accepts, whatever the swap makes of them.
swap_result "empty input path" 1 - -in "" -out b.bin -datasize 16
swap_result "empty output path" 1 - -in a.bin -out "" -datasize 16
swap_result "data size with leading spaces" 0 b.bin -in a.bin -out b.bin -datasize "  16"
swap_result "a path of spaces" 1 - -in "   " -out b.bin -datasize 16
swap_result "options with two dashes" 0 b.bin --in a.bin --OUT b.bin --datasize 16
swap_result "options with =VALUE" 0 b.bin --in=a.bin --OUT=b.bin --datasize=16 --offset=0 --length=8
swap_result "a value that looks like help" 1 - -in --help -out b.bin -datasize 16

# Spaces, quotes and non-ASCII bytes in file names: Linux names are bytes, taken as they come.
for name in "my file.bin" 'quote".bin' "it's.bin" $'caf\xc3\xa9.bin' $'caf\xe9.bin' $'tab\there.bin' \
    '-in' '-DataSize' '*.bin' $'line\nfeed.bin'; do
  fresh
  cp a.bin "./$name"
  "$program" -in "$name" -out "$name.out" -datasize 16
  check "name [$name]: exit code" test $? -eq 0
  check "name [$name]: swapped" test "$(xxd -p "./$name.out")" = "$swapped16"
  check "name [$name]: input untouched" cmp -s "./$name" ../original.bin
  "$program" -datasize 16 -- "$name"
  check "name [$name] after --: swapped in place" test "$(xxd -p "./$name")" = "$swapped16"
done

# Long paths: at and beyond 259 bytes, up to beyond the system's limit. A name of at most 255 bytes
# in each folder works at any total length below PATH_MAX (4096); a longer name, or a longer path,
# fails without creating anything.
long_path() {  # long_path TOTAL-LENGTH: a path of that many bytes under the case folder, folders made
  local total=$1 path=""
  local base
  base=$(pwd)
  while [ $(( ${#base} + ${#path} + 1 + 200 )) -lt "$total" ]; do
    path="$path/$(printf 'd%.0s' $(seq 199))"
  done
  local left=$(( total - ${#base} - ${#path} - 1 ))
  mkdir -p "$base$path"
  echo "$base$path/$(printf 'f%.0s' $(seq "$left"))"
}
for total in 259 260 261 300 1000 4000; do
  fresh
  out=$(long_path $total)
  "$program" -in a.bin -out "$out" -datasize 16
  check "path of $total bytes as output: exit code" test $? -eq 0
  made=$(find "$PWD" -type f ! -path "$PWD/a.bin")
  check "path of $total bytes as output: the one file made, at that path" \
    test "$made:${#made}" = "$out:$total"
  check "path of $total bytes as output: swapped" test "$(xxd -p "$out")" = "$swapped16"
  "$program" -in "$out" -out "$out" -datasize 16
  check "path of $total bytes in place: exit code" test $? -eq 0
  check "path of $total bytes in place: restored" cmp -s "$out" ../original.bin
done
swap_result "a name of 256 bytes" 1 - -in a.bin -out "$(printf 'n%.0s' $(seq 256))" -datasize 16
fresh
swap_result "a path beyond PATH_MAX" 1 - -in a.bin \
  -out "$(pwd)/$(for _ in $(seq 25); do printf 'x%.0s' $(seq 200); printf /; done)out.bin" -datasize 16

# Thousands of arguments: every pair read, the last value wins, the first bad pair stops it all.
many=()
for _ in $(seq 10000); do many+=(-in missing.bin); done
swap_result "10000 repeated -in, the last one valid" 0 b.bin "${many[@]}" -in a.bin -out b.bin -datasize 16
swap_result "10000 repeated -in, the last one missing" 1 - -in a.bin "${many[@]}" -out b.bin -datasize 16
usage_error "10000 pairs, then a stray argument" \
  "extra operand 'x': the input is already named by -in" "${many[@]}" -in a.bin -out b.bin -datasize 16 x
usage_error "a bad pair before 10000 good ones" "invalid -datasize '20': $sizes" \
  -datasize 20 "${many[@]}" -in a.bin -out b.bin -datasize 16

report
