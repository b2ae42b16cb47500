#!/usr/bin/env bash
# Every cause of a failed swap that real files can produce, made to happen for real against the built
# program, with what the input and the output hold afterwards.
#   failure_causes_test.sh native  PROGRAM...   (PROGRAM: the native orvane)
#   failure_causes_test.sh windows PROGRAM...   (PROGRAM: the command running Orvane.exe under Wine)
#
# Permissions: root passes over file modes, so when run as root the script starts itself again as a
# root without the capabilities that override them (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER),
# which file modes then bind like any user's. Under Wine the files are opened by the Wine server, so
# the Windows run also gets a server of its own, started without those capabilities.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
platform=$1
shift
program=("$@")
here=$(cd "$(dirname "$0")" && pwd)

if [ "$(id -u)" -eq 0 ] && [ -z "${ORVANE_UNPRIVILEGED:-}" ]; then
  drop=(setpriv --bounding-set=-dac_override,-dac_read_search,-fowner)
  if "${drop[@]}" true 2>/dev/null; then
    export ORVANE_UNPRIVILEGED=1
    if [ "$platform" = windows ]; then
      exec "${drop[@]}" bash "$here/../../scripts/with-wine.sh" bash "$0" "$platform" "${program[@]}"
    fi
    exec "${drop[@]}" bash "$0" "$platform" "${program[@]}"
  fi
  echo "NOTE: root cannot drop its permission override here (setpriv failed); permission cases are skipped"
fi

work=$(mktemp -d)
cleanup() {
  chmod -R u+rwx "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"


# Whether file modes bind this process: a file without read permission cannot be read.
printf x >probe.bin
chmod 000 probe.bin
modes_bind=yes
cat probe.bin >/dev/null 2>&1 && modes_bind=no
rm -f probe.bin

printf '\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10' >original.bin
printf 'previous output, longer than the input' >previous.bin
swapped16=$(printf '\x02\x01\x04\x03\x06\x05\x08\x07\x0a\x09\x0c\x0b\x0e\x0d\x10\x0f' | xxd -p)

# Fresh files for a case: in.bin holds the original; out.bin holds the previous output, or is absent.
setup() {  # setup with-output|no-output
  chmod -R u+rwx "$work/case" 2>/dev/null
  rm -rf "$work/case"
  mkdir "$work/case" "$work/case/sub"
  cp original.bin case/in.bin
  [ "$1" = with-output ] && cp previous.bin case/out.bin
  cd "$work/case"
}

same() { cmp -s "$1" "$2"; }
absent() { [ ! -e "$1" ]; }

# expect_failure NAME OUTPUT-STATE ARGS...: the program exits with 1; the input holds the original;
# the output is absent (OUTPUT-STATE "absent") or holds the previous output ("previous").
expect_failure() {
  local name=$1 state=$2
  shift 2
  "${program[@]}" "$@" 2>"$work/stderr.txt"
  local status=$?
  check "$name: exit code $status" test $status -eq 1
  check "$name: nothing said" test ! -s "$work/stderr.txt"
  check "$name: input untouched" same in.bin ../original.bin
  if [ "$state" = absent ]; then
    check "$name: no output created" absent out.bin
  else
    check "$name: output as it was" same out.bin ../previous.bin
  fi
  check "$name: nothing else created" test "$(ls | sort | tr '\n' ' ')" = "$(expected_listing "$state")"
  cd "$work"
}
expected_listing() {
  if [ "$1" = absent ]; then echo "in.bin sub "; else echo "in.bin out.bin sub "; fi
}

# The input cannot be opened, or is refused for its size.
for state in absent previous; do
  [ $state = previous ] && files=with-output || files=no-output
  setup $files
  expect_failure "missing input ($state output)" $state -in missing.bin -out out.bin -datasize 16
  setup $files
  expect_failure "empty input path ($state output)" $state -in "" -out out.bin -datasize 16
  setup $files
  expect_failure "folder as input ($state output)" $state -in sub -out out.bin -datasize 16
  setup $files
  : >empty.bin
  "${program[@]}" -in empty.bin -out out.bin -datasize 16
  check "empty input ($state output): exit code" test $? -eq 1
  check "empty input ($state output): still empty" test ! -s empty.bin
  [ $state = absent ] && check "empty input: no output" absent out.bin
  [ $state = previous ] && check "empty input: output as it was" same out.bin ../previous.bin
  cd "$work"
  setup $files
  head -c 6 ../original.bin >in.bin
  cp in.bin ../six.bin
  "${program[@]}" -in in.bin -out out.bin -datasize 32
  check "6 bytes in 32-bit blocks ($state output): exit code" test $? -eq 1
  check "6 bytes in 32-bit blocks: input untouched" same in.bin ../six.bin
  [ $state = absent ] && check "6 bytes in 32-bit blocks: no output" absent out.bin
  [ $state = previous ] && check "6 bytes in 32-bit blocks: output as it was" same out.bin ../previous.bin
  cd "$work"
  setup $files
  expect_failure "no data size ($state output)" $state -in in.bin -out out.bin
done

if [ $modes_bind = yes ]; then
  setup with-output
  chmod 000 in.bin
  "${program[@]}" -in in.bin -out out.bin -datasize 16
  check "input without read permission: exit code" test $? -eq 1
  chmod 644 in.bin
  check "input without read permission: input untouched" same in.bin ../original.bin
  check "input without read permission: output as it was" same out.bin ../previous.bin
  cd "$work"
else
  skip "input without read permission: file modes do not bind this process"
fi

# The output cannot be created.
setup no-output
expect_failure "empty output path" absent -in in.bin -out "" -datasize 16
setup no-output
expect_failure "output in a missing folder" absent -in in.bin -out nowhere/out.bin -datasize 16
setup no-output
expect_failure "folder as output" absent -in in.bin -out sub -datasize 16
check "folder as output: still an empty folder" test -d case/sub -a -z "$(ls -A case/sub)"

if [ $modes_bind = yes ]; then
  setup with-output
  chmod 444 out.bin
  expect_failure "output without write permission" previous -in in.bin -out out.bin -datasize 16
  setup no-output
  chmod 555 .
  expect_failure "output in a folder without write permission" absent -in in.bin -out out.bin -datasize 16
  chmod 755 case
  if [ "$platform" = windows ]; then
    # The read-only attribute as Windows sets it.
    setup with-output
    wine cmd /c attrib +r out.bin >/dev/null 2>&1
    check "read-only attribute: set" test ! -w out.bin
    expect_failure "output with the read-only attribute" previous -in in.bin -out out.bin -datasize 16
  fi
else
  skip "outputs without write permission: file modes do not bind this process"
fi

# The write fails: a device that is always full. The device is not truncated and holds nothing, so
# only the input can be checked.
if [ "$platform" = windows ]; then full='Z:\dev\full'; else full=/dev/full; fi
setup no-output
"${program[@]}" -in in.bin -out "$full" -datasize 16
check "output on a full device: exit code" test $? -eq 1
check "output on a full device: input untouched" same in.bin ../original.bin
cd "$work"

# A write cut short for real: a file size limit (RLIMIT_FSIZE, with its signal ignored) makes the
# system store the first 16 KiB and refuse the rest, as a disk that fills up part-way would. The
# output is left truncated to what was stored.
head -c 65536 /dev/urandom >large.bin
objcopy -I binary -O binary --reverse-bytes=2 large.bin large-swapped.bin
head -c 16384 large-swapped.bin >large-stored.bin
limited() {
  (
    trap '' XFSZ
    ulimit -f 16
    exec "$@"
  )
}
setup with-output
cp ../large.bin in.bin
limited "${program[@]}" -in in.bin -out out.bin -datasize 16
check "write cut short: exit code" test $? -eq 1
check "write cut short: input untouched" same in.bin ../large.bin
check "write cut short: output holds what was stored" same out.bin ../large-stored.bin
cd "$work"

# In place, the file is replaced whole or not at all: each case leaves in.bin either swapped or as
# it was, and nothing beside the files the case itself made.
#   in_place NAME swapped|untouched PATH [COMMAND...]: swaps PATH into itself, run through COMMAND
in_place() {
  local name=$1 outcome=$2 path=$3
  shift 3
  local before
  before=$(ls -A | sort | tr '\n' ' ')
  "$@" "${program[@]}" -in "$path" -out "$path" -datasize 16
  local status=$?
  if [ "$outcome" = swapped ]; then
    check "$name: exit code $status" test $status -eq 0
    check "$name: swapped" same in.bin "$work/large-swapped.bin"
  else
    check "$name: exit code $status" test $status -eq 1
    check "$name: untouched" same in.bin "$work/large.bin"
  fi
  check "$name: nothing beside it" test "$(ls -A | sort | tr '\n' ' ')" = "$before"
}
in_place_case() {  # a fresh folder holding in.bin, the 64 KiB original, and entered
  cd "$work"
  setup no-output
  cp ../large.bin in.bin
}

in_place_case
chmod 640 in.bin
in_place "in place" swapped in.bin
[ "$platform" = native ] && check "in place: permission bits kept" test "$(stat -c %a in.bin)" = 640
in_place_case
ln in.bin link.bin
in_place "in place, a file with a second name (hard link)" untouched in.bin
in_place_case
in_place "in place, under a file size limit" untouched in.bin limited
if [ "$platform" = native ]; then
  in_place_case
  ln -s in.bin link.bin
  in_place "in place through a symbolic link" swapped link.bin
  check "in place through a symbolic link: still a link" test -L link.bin
fi
if [ $modes_bind = yes ]; then
  in_place_case
  chmod 444 in.bin
  in_place "in place, no write permission" untouched in.bin
  in_place_case
  chmod 555 .
  in_place "in place, a folder without write permission" untouched in.bin
  chmod 755 .
fi
if [ "$platform" = windows ]; then
  in_place_case
  wine cmd /c attrib +r in.bin >/dev/null 2>&1
  in_place "in place, read-only attribute" untouched in.bin
fi
# A full file system: a small one of its own, with room for the file but not for its copy.
in_place_case
if mount -t tmpfs -o size=96k orvane-full sub 2>/dev/null; then
  cp in.bin sub/in.bin
  cd sub
  in_place "in place, a full file system" untouched in.bin
  cd ..
  umount sub
else
  skip "in place, a full file system: no tmpfs can be mounted here (it needs root)"
fi
cd "$work"

# Another process holds the output open, sharing it (on Linux every open shares): the swap succeeds,
# and the holder reads the new contents through its own open file.
setup with-output
exec 7<out.bin
"${program[@]}" -in in.bin -out out.bin -datasize 16
check "output held open by another process: exit code" test $? -eq 0
check "output held open by another process: swapped" test "$(xxd -p out.bin)" = "$swapped16"
check "output held open by another process: the holder reads the swap" \
  test "$(head -c 16 <&7 | xxd -p)" = "$swapped16"
exec 7<&-
cd "$work"

# On Linux, locks are advisory: a lock that another process holds on the input does not stop the
# swap, which takes none. (Under Windows a file open without sharing does; see shared_access_test.)
if [ "$platform" = native ]; then
  setup no-output
  (
    exec 8<in.bin >/dev/null 2>&1
    flock -x 8
    exec sleep 30
  ) &
  holder=$!
  # Wait until the lock is held: a second exclusive lock cannot be had.
  for _ in $(seq 50); do flock -x -n in.bin true || break; sleep 0.1; done
  check "input locked by another process: lock held" test "$(flock -x -n in.bin echo free)" = ""
  "${program[@]}" -in in.bin -out out.bin -datasize 16
  check "input locked by another process: exit code" test $? -eq 0
  check "input locked by another process: swapped" test "$(xxd -p out.bin)" = "$swapped16"
  kill $holder 2>/dev/null
  wait $holder 2>/dev/null
  cd "$work"
fi

report
