#!/usr/bin/env bash
# An input of 4 GiB and more cannot be held in one 32-bit count: the swap must fail before any
# output is created or touched, rather than swap the low 4 GiB and truncate. The input is sparse, so
# it costs no disk space.
#   large_input_test.sh PROGRAM...
set -u
program=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

passed=0
failed=0
check() {
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}

truncate -s $((4 * 1024 * 1024 * 1024 + 4)) big.bin
printf '\x01\x02\x03\x04' | dd of=big.bin conv=notrunc status=none
printf 'keep' >existing.bin

"${program[@]}" -in big.bin -out new.bin -datasize 16
check "to a new file: exit code" test $? -eq 1
check "to a new file: not created" test ! -e new.bin

"${program[@]}" -in big.bin -out existing.bin -datasize 16
check "to an existing file: exit code" test $? -eq 1
check "to an existing file: unchanged" test "$(cat existing.bin)" = keep

"${program[@]}" -in big.bin -out big.bin -datasize 16
check "in place: exit code" test $? -eq 1
check "in place: size kept" test "$(stat -c %s big.bin)" -eq $((4 * 1024 * 1024 * 1024 + 4))
check "in place: first bytes kept" test "$(head -c 4 big.bin | xxd -p)" = 01020304

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
