#!/usr/bin/env bash
# A swap in place killed (SIGKILL, nothing to clean up with) at random moments, from start-up to the
# end of the swap: each time the path must hold either the original or the whole swapped file, and
# at most the program's own new file beside it, never a partial, missing or half-swapped one.
#   kill_in_place_test.sh PROGRAM...   (the native orvane, or the command running Orvane.exe)
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
program=("$@")
enter_scratch_folder
tries=${TRIES:-30}

head -c $((${MIB:-128} * 1024 * 1024)) /dev/urandom >original.bin
objcopy -I binary -O binary --reverse-bytes=4 original.bin swapped.bin
mkdir case

# How long an uninterrupted swap takes here, in milliseconds, timed the second time (the first may
# start services that later runs find running, as Wine's): the kills fall within it and a little
# after, so that every stage is hit, finished runs included.
cp original.bin case/data.bin
(cd case && "${program[@]}" -in data.bin -out data.bin -datasize 32)
check "uninterrupted: exit code" test $? -eq 0
check "uninterrupted: swapped" cmp -s case/data.bin swapped.bin
sync
start=$(date +%s%N)
(cd case && "${program[@]}" -in data.bin -out data.bin -datasize 32)
check "uninterrupted, again: exit code" test $? -eq 0
span=$((($(date +%s%N) - start) / 1000000 * 11 / 10 + 1))
check "uninterrupted, again: the original back" cmp -s case/data.bin original.bin
echo "an uninterrupted swap takes about $((span * 10 / 11)) ms"

originals=0 swaps=0 leftovers=0
for try in $(seq "$tries"); do
  rm -f case/*
  cp original.bin case/data.bin
  sync
  delay=$((RANDOM % span))
  # A session of its own, so that the whole process group (a wrapper and the program) is killed.
  (cd case && exec setsid "${program[@]}" -in data.bin -out data.bin -datasize 32) &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  kill -KILL -- -"$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if cmp -s case/data.bin original.bin; then
    originals=$((originals + 1))
  elif cmp -s case/data.bin swapped.bin; then
    swaps=$((swaps + 1))
  else
    check "try $try, killed after $delay ms: the original or the swapped file" false
  fi
  beside=$(cd case && ls -A | grep -v -x data.bin)
  [ -n "$beside" ] && leftovers=$((leftovers + 1))
  check "try $try: at most the program's new file beside it ($beside)" \
    test -z "$beside" -o "$(echo "$beside" | grep -c -x 'orvane-.*\.tmp')" = 1 -a "$(echo "$beside" | wc -l)" = 1
done
echo "$tries kills: $originals left the original, $swaps the swapped file; $leftovers left the new file beside it"
check "every kill left one of the two" test $((originals + swaps)) -eq "$tries"

report
