#!/usr/bin/env bash
# The native program's own help and argument errors. Malformed or incomplete arguments, and none at
# all, print on standard error one line saying what is wrong and a line pointing to the help, print
# nothing else, touch no file and exit with 1. Asked for help or its version, it prints them on
# standard output and exits with 0. Bash completes its data sizes.
#   usage_text_test.sh PROGRAM VERSION   (VERSION: the project's, from the build)
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
program=$1
version=$2
source_root=$(cd "$(dirname "$0")/../.." && pwd)
enter_scratch_folder
printf '\x01\x02\x03\x04' >a.bin
printf '# the header\n4sz\n' >layout.txt

# Exit code 1, the reason and the pointer to the help on standard error, nothing else, no file
# touched.
refused_with() {  # refused_with REASON ARGS...
  local reason=$1
  shift
  "$program" "$@" >stdout.txt 2>stderr.txt
  [ $? -eq 1 ] && [ "$(cat stderr.txt)" = "orvane: $reason"$'\n'"Try 'orvane --help' for more information." ] &&
    [ ! -s stdout.txt ] && [ ! -e b.bin ] && [ "$(xxd -p a.bin)" = 01020304 ]
}

# Each kind of mistake, with what the program says: the reason, then the arguments.
sizes_from="a multiple of 8 from 16 to 1024"
sizes="it must be $sizes_from"
while IFS='|' read -r reason arguments; do
  # shellcheck disable=SC2086 # each line is split into its arguments on purpose
  check "says [$reason] for: $arguments" refused_with "$reason" $arguments
done <<EOF_CASES
no arguments: -in, -out, and -datasize or -layout are required|
missing -datasize or -layout|a.bin
unrecognized option '---in'|---in a.bin -out b.bin -datasize 16
extra operand 'x': the input is already named by -in|-in a.bin -out b.bin -datasize 16 x
unrecognized option '-x'|-datasize 16 a.bin -x
'-' cannot be one of the files: name standard input as -in -|-datasize 16 a.bin -
-out 'b.bin' is not a folder, as it must be for several files|-datasize 16 -out b.bin a.bin a.bin
invalid -offset '1x': it must be a decimal number of bytes|-datasize 16 -offset 1x a.bin
invalid -offset '-1': it must be a decimal number of bytes|-datasize 16 --offset -1 a.bin
invalid -length '18446744073709551616': it must be a decimal number of bytes|-datasize 16 -length 18446744073709551616 a.bin
option '/length' requires an argument|-datasize 16 a.bin /length
invalid -length '6': it must be a non-zero whole number of 4-byte blocks|-datasize 32 -length 6 a.bin
invalid -length '0': it must be a non-zero whole number of 2-byte blocks|-in - -out b.bin -length 0 -datasize 16
invalid -length '6': the layout does not cover that many bytes exactly|-layout q -offset 2 -length 6 a.bin
unrecognized option '-bogus'|-in a.bin -bogus x --help
unrecognized option '--HELP'|--HELP
option '-in' requires an argument|-in
option '/OUT' requires an argument|-in a.bin /OUT
option '-datasize' requires an argument|-in a.bin -out b.bin -datasize
invalid -datasize '8': it is in bits, $sizes_from (8 bytes is -datasize 64)|-in a.bin -out b.bin -datasize 8
invalid -datasize '4': it is in bits, $sizes_from (4 bytes is -datasize 32)|--in=a.bin --out=b.bin --datasize=4
invalid -datasize '20': $sizes|-in a.bin -out b.bin -datasize 20
invalid -datasize '1032': $sizes|-in a.bin -out b.bin -datasize 1032
invalid -datasize '0x10': $sizes|-in a.bin -out b.bin -datasize 0x10
invalid -datasize '4294967312': $sizes|-in a.bin -out b.bin -datasize 4294967312
invalid -datasize '1': $sizes|-in a.bin -out b.bin -datasize 1 -datasize 16
option '--in' requires an argument|--in= --out=b.bin --datasize=16
option '--offset' requires an argument|-datasize 16 a.bin --offset=
option '--help' doesn't allow an argument|--help=x
unrecognized option '-in=a.bin'|-in=a.bin -out b.bin -datasize 16
missing -in|-out b.bin -datasize 16
missing -out|-in a.bin -datasize 16
missing -datasize or -layout|-in a.bin -out b.bin
missing -in and -out|-datasize 24
invalid layout '4si2z:*': unknown field 'z' at character 5|-in a.bin -out b.bin -layout 4si2z:*
invalid layout 'i:': a count or '*' must follow ':' at character 3|--layout=i: a.bin
invalid layout 'i:*h': unexpected 'h' at character 4 after the group's count|/LAYOUT i:*h a.bin
invalid layout '4h<': '<' at character 3 is taken only at the very start of the layout|-layout 4h< a.bin
invalid layout 'nh:*': 'n' at character 1 is a native size, not taken: it depends on the compiler that wrote the file|-layout nh:* a.bin
invalid layout '3Pi': 'P' at character 2 is a native size, not taken: it depends on the compiler that wrote the file|-layout 3Pi a.bin
invalid layout 'r:*': 'r' at character 1 needs its length before it, from 2 to 128 bytes ('3r' is one 3-byte field)|-layout r:* a.bin
invalid layout '3:*': the count '3' at character 1 is followed by no field|-layout 3:* a.bin
invalid layout '0h:*': the group at character 1 takes no bytes|-layout 0h:* a.bin
invalid layout 'i:0': it takes no bytes: each group is taken 0 times|-layout i:0 a.bin
invalid layout 'h@i': '@' at character 2 is not taken: fields are never aligned or padded, as after '<', '>', '!' or '='|-layout h@i a.bin
invalid layout in 'layout.txt': unknown field 'z' at line 2, character 3|-layout @layout.txt a.bin
invalid layout '4sh:99999999999999999999': the count at character 5 is too large|-layout 4sh:99999999999999999999 a.bin
option '--layout' requires an argument|-in a.bin -out b.bin --layout
-datasize and -layout cannot be given together: -datasize BITS is the layout of one field of BITS/8 bytes, as '4r:*' for 32 bits|-datasize 16 -layout h:* a.bin
missing -out, and -datasize or -layout|-in a.bin
EOF_CASES

# Help: written for this program, on standard output. Its option table lists each option once, the
# descriptions in one column; it ends by pointing to the manual page.
"$program" --help >help.txt 2>stderr.txt
check "--help: exit code" test $? -eq 0
check "--help: nothing on standard error" test ! -s stderr.txt
check "-h: the same text" cmp -s help.txt <("$program" -h)
check "--help: the synopsis first" test "$(head -n 1 help.txt)" = \
  "Usage: orvane -in INPUT -out OUTPUT -datasize BITS"
table=$(grep -E '^  -' help.txt)
check "--help: the options, in order" test "$(echo "$table" | awk '{ print $1 }' | tr '\n' ' ')" = \
  "-in -out -datasize -layout -offset -length - -h, --version "
# Where each row's description starts: after the first gap of two spaces or more past the option.
columns=$(echo "$table" | awk '{ row = substr($0, 3); match(row, /  +[^ ]/); print RSTART + RLENGTH }')
check "--help: one column of descriptions" test "$(echo "$columns" | sort -u | wc -l)" -eq 1 -a \
  "$(echo "$columns" | wc -l)" -eq 9
check "--help: examples with Linux paths" test "$(grep -c -E '^  .*orvane -in [~/-]' help.txt)" -ge 2
check "--help: nothing of the Windows usage" test -z "$(grep -i -e 'c:\\' -e Orvdane help.txt)"
check "--help: ends with the manual page" test "$(tail -n 1 help.txt)" = "See orvane(1)."

# Help and the version wherever an option may stand, the first of them winning; a failed write of
# either is said, never taken for success.
"$program" --version >version.txt
while IFS='|' read -r shown arguments; do
  # shellcheck disable=SC2086 # each line is split into its arguments on purpose
  "$program" $arguments >asked.txt 2>stderr.txt
  check "[$arguments]: exit code 0, nothing on standard error" test $? -eq 0 -a ! -s stderr.txt
  check "[$arguments]: $shown" cmp -s asked.txt "$shown.txt"
done <<EOF_CASES
help|-in a.bin -out b.bin -datasize 32 --help
help|-h -in a.bin
help|-datasize 16 -h --version
version|--version
version|-in a.bin --version --help
EOF_CASES
check "--version: name, version, copyright, licence, warranty" test \
  "$(head -n 1 version.txt) $(grep -c -e '^Copyright (C) ' -e 'MIT' -e 'NO WARRANTY' version.txt)" = \
  "orvane $version 3"
for request in --help --version; do
  "$program" "$request" >/dev/full 2>stderr.txt
  check "$request to a full disk: exit code 1, one line" test $? -eq 1 -a "$(wc -l <stderr.txt)" -eq 1
done
check "--version to a full disk: says why" test "$(cat stderr.txt)" = \
  "orvane: cannot write the version to standard output: No space left on device"

# Completion, as bash-completion loads it: the sizes after -datasize. Words are given as bash splits
# the line: `--in=a.bin` is `--in`, `=`, `a.bin`.
offered() {  # offered WORDS...: what bash offers for the last word, one line
  bash -c 'source /usr/share/bash-completion/bash_completion && source "$1" && shift &&
    COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) && COMP_LINE="$*" &&
    COMP_LINE=${COMP_LINE// = /=} && COMP_POINT=${#COMP_LINE} &&
    function=$(complete -p orvane | sed -E "s/.* -F ([^ ]+) .*/\1/") &&
    "$function" orvane "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" &&
    echo "${COMPREPLY[*]}"' bash "$source_root/packaging/orvane.bash-completion" "$@"
}
mkdir -p zone/sub && touch zone/f.bin
check "completion: data sizes after -datasize" test \
  "$(offered orvane -in a.bin -datasize '')" = "16 24 32 48 64 128"
check "completion: folders after -out, files after the options" test \
  "$(offered orvane -datasize 16 -out zone/) | $(offered orvane -datasize 16 a.bin zone/)" = \
  "zone/sub | zone/sub zone/f.bin"
check "completion: the two-dash forms after --" test "$(offered orvane -in a.bin --)" = \
  "--in --out --datasize --layout --offset --length --"
check "completion: a layout file after -layout @, nothing for a layout" test \
  "$(offered orvane -layout @zone/) | $(offered orvane --layout 4s)" = "@zone/sub @zone/f.bin | "
check "completion: after --datasize=, --out= and --in=" test \
  "$(offered orvane --datasize = '') | $(offered orvane --datasize = 16 --out = zone/) |\
 $(offered orvane --in = a.bin --datasize 16 --out = zone/)" = \
  "16 24 32 48 64 128 | zone/sub | zone/sub zone/f.bin"

report
