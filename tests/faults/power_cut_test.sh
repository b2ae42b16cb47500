#!/usr/bin/env bash
# The power cut at each step of a swap, on a file system that loses whatever was not flushed
# (power_cut_fs.cpp, whose model is written at its top). A swap in place, of one small file, of one
# in several pieces and of many files in one run, cut after the new file is created, part-way
# through its writing, after its flush, after the rename or exchange, after the folder's flush, and
# right after the program exited 0: after the cut each file holds exactly its old or its swapped
# bytes, with its mode, owner, attributes, access control list and flags as before, and the swapped
# bytes once its swap was reported. Into another file (replaced, or new) the input is never at risk
# and the output is what docs/reliability.md says a cut may leave. Run with renameat2's
# RENAME_EXCHANGE supported and refused. A step that is never reached fails the test.
#   power_cut_test.sh PROGRAM...   (the native orvane; the file system in POWER_CUT_FS, the library
#                                   that makes flushes no-ops in NO_FLUSH_LIBRARY)
# An LD_PRELOAD the test is started with reaches the program under test (and only it).
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
program=("$@")
program_preload=${LD_PRELOAD:-}
unset LD_PRELOAD
# A sanitized program is told that a library loaded before its runtime is meant to be.
preloaded() { [ -n "$program_preload" ] && export ASAN_OPTIONS=${ASAN_OPTIONS:-}:verify_asan_link_order=0; }
preloaded

if [ -z "${POWER_CUT_FS:-}" ]; then
  echo "SKIPPED: built without libfuse3 (Debian's libfuse3-dev), which the test's file system needs"
  exit 77
fi
for tool in fusermount3 setfacl setfattr chattr objcopy; do
  command -v $tool >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
if [ ! -r /dev/fuse ] || [ ! -w /dev/fuse ]; then
  echo "SKIPPED: /dev/fuse is missing, or this user may not use it"
  exit 77
fi
enter_scratch_folder
mkdir disk
trap 'fusermount3 -u -z disk 2>/dev/null; rm -rf "$work"' EXIT

fs_pid=
mount_disk() {  # mount_disk IMAGE [FILE SYSTEM OPTIONS...]: false when nothing was mounted
  "$POWER_CUT_FS" "$1" disk "${@:2}" -o default_permissions 2>>fs.log &
  fs_pid=$!
  for _ in $(seq 100); do
    mountpoint -q disk && return 0
    kill -0 $fs_pid 2>/dev/null || break
    sleep 0.05
  done
  kill $fs_pid 2>/dev/null
  wait $fs_pid
  return 1
}
unmount_disk() {  # the power cut, if none came before; the file system's exit status
  fusermount3 -u disk
  wait $fs_pid
}
# Mode, owner, group, extended attributes (the access control list among them) and flags.
metadata() { stat -c '%a %u %g' "$1" && getfattr -d -m - "$1" | tail -n +2 && lsattr "$1" | cut -d' ' -f1; }

# The files as they are before each swap, on an image every case starts from.
piece=$((256 * 1024))
head -c 4096 /dev/urandom >small.bin
head -c $((2 * piece + 4096)) /dev/urandom >multi.bin
head -c 8192 /dev/urandom >old-output.bin
many=(m1.bin m2.bin m3.bin m4.bin)
for name in "${many[@]}"; do head -c 4096 /dev/urandom >"$name"; done
files=(small.bin multi.bin old-output.bin "${many[@]}")
for name in "${files[@]}"; do objcopy -I binary -O binary --reverse-bytes=4 "$name" "$name.swapped"; done
# The system refusing the mount (libfuse's own words) is a skip; the file system failing, a failure.
if ! mount_disk base.img --keep-everything; then
  if grep -q '^fuse' fs.log; then
    echo "SKIPPED: FUSE cannot be mounted here: $(grep -m 1 '^fuse' fs.log)"
    exit 77
  fi
  check "the test's file system mounted" false
  cat fs.log
  report
  exit
fi
for name in "${files[@]}"; do
  cp "$name" disk/ && chown 1234:5678 "disk/$name" && chmod 0640 "disk/$name" &&
    setfattr -n user.note -v kept "disk/$name" && setfacl -m u:4321:r "disk/$name" &&
    chattr +d "disk/$name" && metadata "disk/$name" >"$name.metadata" ||
    check "$name: set up with its metadata" false
done
unmount_disk
check "the image made" test -s base.img

# run_case LABEL CUT FS-OPTIONS ARGUMENTS...: the program run on a copy of the image with the power
# cut (CUT: KIND:N, or exit for right after the program); the image then mounted again as the
# program's files, for the checks. Leaves $status, the program's exit status.
run_case() {
  local label=$1 cut=$2 options=$3
  shift 3
  cp base.img case.img
  local cut_option=--cut-after=$cut
  [ "$cut" = exit ] && cut_option=
  mount_disk case.img $cut_option $options || check "$label: mounted" false
  (cd disk && LD_PRELOAD=$program_preload "${program[@]}" -datasize 32 "$@") 2>program.err
  status=$?
  unmount_disk 2>/dev/null
  check "$label: the cut came at its step" test $? -eq 0
  counts=$(tail -n 1 fs.log)  # what the file system did, for the checks
  [ "$cut" = exit ] && check "$label: the program exited 0" test $status -eq 0
  mount_disk case.img || check "$label: mounted again" false
}

# A file swapped in place: old or swapped, swapped once reported, its metadata as before.
check_in_place() {  # check_in_place LABEL FILE
  local label=$1 name=$2 reported=false
  { [ $status -eq 0 ] || ! grep -q "'$name'" program.err; } && reported=true
  if cmp -s "disk/$name" "$name.swapped"; then
    :
  elif cmp -s "disk/$name" "$name"; then
    check "$label: $name swapped, as was reported" test $reported = false
  else
    check "$label: $name holds its old or its swapped bytes" false
  fi
  check "$label: $name's metadata as before" cmp -s <(metadata "disk/$name") "$name.metadata"
}

# Only the case's files, and at most the program's new file beside them.
check_beside() {  # check_beside LABEL FILES...
  local label=$1
  shift
  local beside
  beside=$(ls -A disk | grep -v -x -F "$(printf '%s\n' "$@")" | grep -v -x 'orvane-.*\.tmp')
  check "$label: nothing beside the files but the program's new file ($beside)" test -z "$beside"
}

# An output written to another file: the old output (none for a new one), the swapped bytes, or,
# where the names reached the disk before the data, the swapped length of bytes that are each the
# swapped byte or zero, or an empty file (docs/reliability.md).
check_output() {  # check_output LABEL OUTPUT SWAPPED [OLD]
  local label=$1 output=disk/$2 swapped=$3 old=${4:-}
  local left=swapped
  if [ ! -e "$output" ]; then
    left=none
    check "$label: the new output, or none" test -z "$old"
  elif [ -n "$old" ] && cmp -s "$output" "$old"; then
    left=old
  elif [ ! -s "$output" ]; then
    left=empty
  elif ! cmp -s "$output" "$swapped"; then
    left="swapped or zero bytes ($(cmp -l "$output" "$swapped" | wc -l) zeros)"
    check "$label: the output the swapped length" test "$(stat -c %s "$output")" = "$(stat -c %s "$swapped")"
    check "$label: each byte of the output swapped, or zero" \
      test -z "$(cmp -l "$output" "$swapped" | awk '$2 != 0')"
  fi
  echo "$label (program exit $status): output $left"
}

in_place_steps() {  # in_place_steps WRITE-STEP: the steps of one swap in place
  echo create:1 write:$1 fsync:1 rename:1 fsyncdir:1 exit
}

for exchange in supported refused; do
  options=
  [ $exchange = refused ] && options=--no-exchange
  for cut in $(in_place_steps 1); do
    label="small in place, RENAME_EXCHANGE $exchange, cut after $cut"
    run_case "$label" $cut "$options" small.bin
    check_in_place "$label" small.bin
    check_beside "$label" "${files[@]}"
    unmount_disk
  done
  [[ $counts == *"exchanges 0"* ]]
  check "RENAME_EXCHANGE $exchange: exchanged where supported ($counts)" \
    test $? -eq $([ $exchange = supported ] && echo 1 || echo 0)
  for cut in $(in_place_steps 2); do  # two of its three pieces written
    label="multi-piece in place, RENAME_EXCHANGE $exchange, cut after $cut"
    run_case "$label" $cut "$options" multi.bin
    check_in_place "$label" multi.bin
    [ $cut = exit ] && check "multi-piece: the cut after the second write part-way ($counts)" \
      test "$(grep -o 'write [0-9]*' <<<"$counts" | cut -d' ' -f2)" -gt 2
    check_beside "$label" "${files[@]}"
    unmount_disk
  done
  # The third file's steps, the first two done.
  for cut in create:3 write:3 fsync:3 rename:3 fsyncdir:3 exit; do
    label="many files in place, RENAME_EXCHANGE $exchange, cut after $cut"
    run_case "$label" $cut "$options" "${many[@]}"
    for name in "${many[@]}"; do check_in_place "$label" "$name"; done
    check_beside "$label" "${files[@]}"
    unmount_disk
  done
done

# Into another file the output is not flushed (as cp does not flush it): there is no flush to cut
# after. Cut with the names as the folder's flushes left them, and with the names written back.
for names in flushed written-back; do
  options=
  [ $names = written-back ] && options=--names-written-back
  for cut in create:1 write:2 rename:1 exit; do
    label="replaced output, names $names, cut after $cut"
    run_case "$label" $cut "$options" -in multi.bin -out old-output.bin
    check "$label: the input untouched" cmp -s disk/multi.bin multi.bin
    check_output "$label" old-output.bin multi.bin.swapped old-output.bin
    check "$label: the output's metadata as before" cmp -s <(metadata disk/old-output.bin) old-output.bin.metadata
    check_beside "$label" "${files[@]}"
    unmount_disk

    label="new output, names $names, cut after $cut"
    run_case "$label" $cut "$options" -in multi.bin -out new.bin
    check "$label: the input untouched" cmp -s disk/multi.bin multi.bin
    check_output "$label" new.bin multi.bin.swapped
    check_beside "$label" "${files[@]}" new.bin
    unmount_disk
  done
done

# The test sees a swap that is not flushed: with fsync and fdatasync made no-ops, a swap in place
# reported done is lost in the cut right after it.
label="flushes made no-ops"
program_preload=$program_preload${program_preload:+:}$NO_FLUSH_LIBRARY
preloaded
run_case "$label" exit "" multi.bin
check "$label: the swap reported done is lost" cmp -s disk/multi.bin multi.bin
unmount_disk
report
