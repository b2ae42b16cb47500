#!/usr/bin/env bash
# Every cause of a failed swap that real files can produce, made to happen for real against the built
# program, with what the input and the output hold afterwards and the line the native program says
# on standard error (Orvane.exe says nothing).
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
  # Without those capabilities root too needs the folders above the checkout open to it.
  reachable=yes
  for file in "$0" "${program[@]}"; do
    if [ -e "$file" ] && ! "${drop[@]}" test -r "$file" 2>/dev/null; then reachable=no; fi
  done
  if [ $reachable = no ]; then
    echo "NOTE: a folder above the checkout is closed to root without its permission override; permission cases are skipped"
  elif "${drop[@]}" true 2>/dev/null; then
    export ORVANE_UNPRIVILEGED=1
    if [ "$platform" = windows ]; then
      exec "${drop[@]}" bash "$here/../../scripts/with-wine.sh" bash "$0" "$platform" "${program[@]}"
    fi
    exec "${drop[@]}" bash "$0" "$platform" "${program[@]}"
  else
    echo "NOTE: root cannot drop its permission override here (setpriv failed); permission cases are skipped"
  fi
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
# said NAME MESSAGE: standard error (in stderr.txt) holds MESSAGE natively, and nothing under Wine.
said() {
  if [ "$platform" = native ]; then
    check "$1: says why" test "$(cat "$work/stderr.txt")" = "$2"
  else
    check "$1: nothing said" test ! -s "$work/stderr.txt"
  fi
}
absent() { [ ! -e "$1" ]; }

# expect_failure NAME OUTPUT-STATE MESSAGE ARGS...: the program exits with 1 and says MESSAGE; the
# input holds the original; the output is absent (OUTPUT-STATE "absent") or holds the previous output
# ("previous").
expect_failure() {
  local name=$1 state=$2 message=$3
  shift 3
  "${program[@]}" "$@" 2>"$work/stderr.txt"
  local status=$?
  check "$name: exit code $status" test $status -eq 1
  said "$name" "$message"
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
  expect_failure "missing input ($state output)" $state \
    "orvane: cannot open 'missing.bin': No such file or directory" \
    -in missing.bin -out out.bin -datasize 16
  setup $files
  expect_failure "empty input path ($state output)" $state \
    "orvane: cannot open '': No such file or directory" -in "" -out out.bin -datasize 16
  setup $files
  expect_failure "folder as input ($state output)" $state "orvane: cannot open 'sub': Is a directory" \
    -in sub -out out.bin -datasize 16
  setup $files
  : >empty.bin
  "${program[@]}" -in empty.bin -out out.bin -datasize 16 2>"$work/stderr.txt"
  check "empty input ($state output): exit code" test $? -eq 1
  said "empty input ($state output)" "orvane: 'empty.bin' is empty"
  check "empty input ($state output): still empty" test ! -s empty.bin
  [ $state = absent ] && check "empty input: no output" absent out.bin
  [ $state = previous ] && check "empty input: output as it was" same out.bin ../previous.bin
  cd "$work"
  setup $files
  head -c 6 ../original.bin >in.bin
  cp in.bin ../six.bin
  "${program[@]}" -in in.bin -out out.bin -datasize 32 2>"$work/stderr.txt"
  check "6 bytes in 32-bit blocks ($state output): exit code" test $? -eq 1
  said "6 bytes in 32-bit blocks ($state output)" \
    "orvane: 'in.bin' is 6 bytes, not a whole number of 4-byte blocks"
  check "6 bytes in 32-bit blocks: input untouched" same in.bin ../six.bin
  [ $state = absent ] && check "6 bytes in 32-bit blocks: no output" absent out.bin
  [ $state = previous ] && check "6 bytes in 32-bit blocks: output as it was" same out.bin ../previous.bin
  cd "$work"
  setup $files
  expect_failure "no data size ($state output)" $state \
    "orvane: missing -datasize or -layout"$'\n'"Try 'orvane --help' for more information." \
    -in in.bin -out out.bin
done

if [ $modes_bind = yes ]; then
  setup with-output
  chmod 000 in.bin
  "${program[@]}" -in in.bin -out out.bin -datasize 16 2>"$work/stderr.txt"
  check "input without read permission: exit code" test $? -eq 1
  said "input without read permission" "orvane: cannot open 'in.bin': Permission denied"
  chmod 644 in.bin
  check "input without read permission: input untouched" same in.bin ../original.bin
  check "input without read permission: output as it was" same out.bin ../previous.bin
  cd "$work"
else
  skip "input without read permission: file modes do not bind this process"
fi

# The output cannot be created.
setup no-output
expect_failure "empty output path" absent \
  "orvane: cannot open '' for writing: No such file or directory" -in in.bin -out "" -datasize 16
setup no-output
expect_failure "output in a missing folder" absent \
  "orvane: cannot open 'nowhere/out.bin' for writing: No such file or directory" \
  -in in.bin -out nowhere/out.bin -datasize 16
setup no-output
expect_failure "folder as output" absent "orvane: cannot open 'sub' for writing: Is a directory" \
  -in in.bin -out sub -datasize 16
check "folder as output: still an empty folder" test -d case/sub -a -z "$(ls -A case/sub)"

# Another user's link in a sticky folder that everyone may write (as /tmp) is not followed, where
# the system would not follow it either: planted to a file, dangling, or second in a chain. Nothing
# is written or created; this user's own link there is followed. The system's rule
# (fs.protected_symlinks) is turned on for the test where it is off.
if [ "$platform" = native ] && [ "$(id -u)" -eq 0 ]; then
  symlinks_level=$(cat /proc/sys/fs/protected_symlinks)
  if [ "$symlinks_level" = 1 ] || echo 1 2>/dev/null >/proc/sys/fs/protected_symlinks; then
    for link in planted dangling chained; do
      setup no-output
      mkdir -m 1777 shared
      cp ../previous.bin secret.bin
      case $link in
        planted) ln -s ../secret.bin shared/out.bin && chown -h 65534 shared/out.bin ;;
        dangling) ln -s ../new.bin shared/out.bin && chown -h 65534 shared/out.bin ;;
        chained) ln -s ../secret.bin shared/other.bin && chown -h 65534 shared/other.bin &&
          ln -s other.bin shared/out.bin ;;
      esac
      "${program[@]}" -in in.bin -out shared/out.bin -datasize 16 2>"$work/stderr.txt"
      check "another user's $link link in a shared folder: exit code" test $? -eq 1
      said "another user's $link link in a shared folder" "orvane: cannot open 'shared/out.bin' for writing: it leads through a link in a sticky folder that everyone may write, which the system follows only for the link's owner or the folder's owner"
      check "another user's $link link: nothing written" same secret.bin ../previous.bin
      check "another user's $link link: nothing created" \
        test "$(ls | tr '\n' ' ')$(ls shared | grep -cv -e '^out.bin$' -e '^other.bin$')" = \
        "in.bin secret.bin shared sub 0"
      if [ $link = planted ]; then  # nor read through it
        "${program[@]}" -in shared/out.bin -out new.bin -datasize 16 2>"$work/stderr.txt"
        check "another user's planted link as the input: exit code $?, nothing created" \
          test $? -eq 1 -a ! -e new.bin
        said "another user's planted link as the input" "orvane: cannot open 'shared/out.bin': it leads through a link in a sticky folder that everyone may write, which the system follows only for the link's owner or the folder's owner"
      fi
      cd "$work"
    done
    setup no-output
    mkdir -m 1777 shared
    ln -s ../out.bin shared/mine.bin
    "${program[@]}" -in in.bin -out shared/mine.bin -datasize 16
    check "this user's own link in a shared folder: followed" test "$(xxd -p out.bin)" = "$swapped16"
    cd "$work"
    echo "$symlinks_level" >/proc/sys/fs/protected_symlinks
  else
    skip "links in shared folders: fs.protected_symlinks is off and cannot be turned on here"
  fi
  # Another user's file, made first under the output's name in such a folder, a regular file or a
  # named pipe: refused where the system would refuse to open it by that name (fs.protected_regular,
  # fs.protected_fifos, turned on here for the test where they are off), and nothing written to it.
  # This user's own file there is written.
  settings=(/proc/sys/fs/protected_regular /proc/sys/fs/protected_fifos)
  levels=$(cat "${settings[@]}")
  if for setting in "${settings[@]}"; do [ "$(cat $setting)" != 0 ] || echo 1 >$setting; done 2>/dev/null; then
    for kind in file pipe own; do
      setup no-output
      mkdir -m 1777 shared
      case $kind in
        file) cp ../previous.bin shared/out.bin && chmod 666 shared/out.bin ;;
        pipe) mkfifo -m 666 shared/out.bin && exec 9<>shared/out.bin ;;
        own) cp ../previous.bin shared/out.bin ;;
      esac
      [ $kind != own ] && chown 65534 shared/out.bin
      timeout 10 "${program[@]}" -in in.bin -out shared/out.bin -datasize 16 2>"$work/stderr.txt"
      status=$?
      if [ $kind = own ]; then
        check "this user's own file in a shared folder: written" test "$status$(xxd -p shared/out.bin)" = "0$swapped16"
      else
        check "another user's $kind in a shared folder: exit code $status" test $status -eq 1
        said "another user's $kind in a shared folder" "orvane: cannot open 'shared/out.bin' for writing: it is another user's file in a sticky folder that others may write, which the system opens for writing only for its owner or the folder's owner"
      fi
      [ $kind = file ] && check "another user's file: nothing written" same shared/out.bin ../previous.bin
      [ $kind = pipe ] && check "another user's pipe: nothing written" test -z "$(timeout 0.2 cat <&9)"
      [ $kind = pipe ] && exec 9<&-
      cd "$work"
    done
    paste -d ' ' <(echo "$levels") <(printf '%s\n' "${settings[@]}") | while read -r level setting; do
      echo "$level" >"$setting"
    done
  else
    skip "files in shared folders: fs.protected_regular and fs.protected_fifos are off and cannot be turned on here"
  fi
fi

if [ $modes_bind = yes ]; then
  setup with-output
  chmod 444 out.bin
  denied="orvane: cannot open 'out.bin' for writing: Permission denied"
  expect_failure "output without write permission" previous "$denied" \
    -in in.bin -out out.bin -datasize 16
  setup no-output
  chmod 555 .
  expect_failure "output in a folder without write permission" absent "$denied" \
    -in in.bin -out out.bin -datasize 16
  chmod 755 case
  if [ "$platform" = windows ]; then
    # The read-only attribute as Windows sets it.
    setup with-output
    wine cmd /c attrib +r out.bin >/dev/null 2>&1
    check "read-only attribute: set" test ! -w out.bin
    expect_failure "output with the read-only attribute" previous "" \
      -in in.bin -out out.bin -datasize 16
  fi
else
  skip "outputs without write permission: file modes do not bind this process"
fi

# The write fails: a device that is always full. The device is not truncated and holds nothing, so
# only the input can be checked.
if [ "$platform" = windows ]; then full='Z:\dev\full'; else full=/dev/full; fi
setup no-output
"${program[@]}" -in in.bin -out "$full" -datasize 16 2>"$work/stderr.txt"
check "output on a full device: exit code" test $? -eq 1
said "output on a full device" "orvane: cannot write '/dev/full': No space left on device"
check "output on a full device: input untouched" same in.bin ../original.bin
cd "$work"

# A write cut short for real: a file size limit (RLIMIT_FSIZE) makes the system store the first
# 16 KiB and refuse the rest, as a disk that fills up part-way would. Under Wine the output is left
# truncated to what was stored, the limit's signal ignored for Wine's own processes, which it would
# end. The native program takes the signal as a failed write, met when it reserves the whole length
# of the file written beside the output, which must go with the failure.
head -c 65536 /dev/urandom >large.bin
objcopy -I binary -O binary --reverse-bytes=2 large.bin large-swapped.bin
head -c 16384 large-swapped.bin >large-stored.bin
limited() {
  (
    [ "$platform" = windows ] && trap '' XFSZ
    ulimit -f 16
    exec "$@"
  )
}
setup with-output
cp ../large.bin in.bin
limited "${program[@]}" -in in.bin -out out.bin -datasize 16 2>"$work/stderr.txt"
check "write cut short: exit code" test $? -eq 1
said "write cut short" "orvane: cannot write 'out.bin': File too large"
check "write cut short: input untouched" same in.bin ../large.bin
if [ "$platform" = native ]; then
  # Written beside it and renamed only when whole, the output is left as it was.
  check "write cut short: output as it was, nothing beside it" same out.bin ../previous.bin
  check "write cut short: nothing beside it" test "$(ls | tr '\n' ' ')" = "in.bin out.bin sub "
else
  check "write cut short: output holds what was stored" same out.bin ../large-stored.bin
fi
cd "$work"

# In place, the file is replaced whole or not at all: each case leaves in.bin either swapped or as
# it was, and nothing beside the files the case itself made.
#   in_place NAME swapped|untouched MESSAGE PATH [COMMAND...]: swaps PATH into itself, run through
#   COMMAND; the native program says MESSAGE (nothing when it swapped)
in_place() {
  local name=$1 outcome=$2 message=$3 path=$4
  shift 4
  local before
  before=$(ls -A | sort | tr '\n' ' ')
  "$@" "${program[@]}" -in "$path" -out "$path" -datasize 16 2>"$work/stderr.txt"
  local status=$?
  said "$name" "$message"
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
in_place "in place" swapped "" in.bin
[ "$platform" = native ] && check "in place: permission bits kept" test "$(stat -c %a in.bin)" = 640
in_place_case
ln in.bin link.bin
in_place "in place, a file with a second name (hard link)" untouched \
  "orvane: cannot swap 'in.bin' in place: it has more than one name (hard links), which replacing it would split" \
  in.bin
in_place_case
in_place "in place, under a file size limit" untouched \
  "orvane: cannot write 'in.bin': File too large" in.bin limited
# A link stays a link, and its target is swapped (under Wine too, which sees a Unix link as a file).
in_place_case
ln -s in.bin link.bin
in_place "in place through a symbolic link" swapped "" link.bin
check "in place through a symbolic link: still a link" test -L link.bin
if [ $modes_bind = yes ]; then
  in_place_case
  chmod 444 in.bin
  in_place "in place, no write permission" untouched \
    "orvane: cannot open 'in.bin' for writing: Permission denied" in.bin
  in_place_case
  chmod 555 .
  in_place "in place, a folder without write permission" untouched \
    "orvane: cannot create the swapped copy beside 'in.bin': Permission denied" in.bin
  chmod 755 .
fi
if [ "$platform" = windows ]; then
  in_place_case
  wine cmd /c attrib +r in.bin >/dev/null 2>&1
  in_place "in place, read-only attribute" untouched "" in.bin
fi
if [ "$platform" = native ]; then
  # What the user set survives: set-id bits (given after the last write, by the file's own owner,
  # whose writes would clear them), an access control list entry that denies, an attribute.
  # As root the owner is another user, so that the swap runs without root's privileges.
  # As root the owner is another user, who runs a copy of the program in this test's own folder:
  # the folders above it (a private home, a mktemp folder) may be closed to that user.
  as_owner=()
  as_other_ok=yes
  if [ "$(id -u)" -eq 0 ]; then
    as_owner=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    mkdir "$work/reachable"
    cp "${program[0]}" "$work/reachable/orvane"
    chmod 711 "$work" && chmod 755 "$work/reachable"
    if ! "${as_owner[@]}" test -x "$work/reachable/orvane"; then
      as_other_ok=no
      skip "cases run as another user: $work cannot be reached by uid 65534 (a folder above it is closed)"
    fi
  fi
  own_program=("${program[@]}")
  [ "$(id -u)" -eq 0 ] && program=("$work/reachable/orvane" "${program[@]:1}")
  if [ $as_other_ok = yes ]; then
    in_place_case
    [ "$(id -u)" -eq 0 ] && chown 65534:65534 in.bin && chmod 777 .
    "${as_owner[@]}" chmod 6755 in.bin
    in_place "in place, set-id bits, by the owner" swapped "" in.bin "${as_owner[@]}"
    check "in place, set-id bits: kept" test "$(stat -c %a in.bin)" = 6755
  fi
  in_place_case
  if setfacl -m u:65534:--- in.bin 2>/dev/null && setfattr -n user.note -v kept in.bin 2>/dev/null; then
    in_place "in place, a deny entry and an attribute" swapped "" in.bin
    check "in place, a deny entry: kept" grep -qx 'user:65534:---' <(getfacl -cpn in.bin 2>/dev/null)
    check "in place, an attribute: kept" test "$(getfattr --only-values -n user.note in.bin)" = kept
  else
    skip "in place, a deny entry and an attribute: not supported here"
  fi
  # File attribute flags (no-dump, no-atime) survive, in place and over an existing output, as they
  # do when a file is written over.
  in_place_case
  if chattr +dA in.bin 2>/dev/null; then
    in_place "in place, no-dump and no-atime flags" swapped "" in.bin
    check "in place, no-dump and no-atime flags: kept" \
      test "$(lsattr in.bin | cut -d ' ' -f 1 | tr -cd dA)" = dA
    cp ../large.bin out.bin
    chattr +d out.bin
    "${program[@]}" -in in.bin -out out.bin -datasize 16
    check "over an existing output, the no-dump flag: kept" \
      test "$?$(lsattr out.bin | cut -d ' ' -f 1 | tr -cd dA)" = 0d
  else
    skip "file attribute flags: this file system has none, or this process may not set them"
  fi
  # File capabilities, which any write clears, are not carried onto the swapped content.
  in_place_case
  if setcap cap_net_raw+ep in.bin 2>/dev/null; then
    in_place "in place, a file with capabilities" swapped "" in.bin
    check "in place, capabilities: not carried" test -z "$(getcap in.bin)"
  else
    skip "in place, a file with capabilities: they cannot be set here (it needs root)"
  fi
  # Another user's file that this one may write (through its group): replacing it would take it
  # from its owner, who may then lose access to it.
  if [ "$(id -u)" -eq 0 ] && [ $as_other_ok = yes ]; then
    in_place_case
    chgrp 65534 in.bin
    chmod 664 in.bin
    chmod 777 .
    in_place "in place, a file of another owner" untouched \
      "orvane: cannot give the swapped copy of 'in.bin' its owner, permissions and attributes: Operation not permitted" \
      in.bin "${as_owner[@]}"
  fi
  program=("${own_program[@]}")
  # An append-only folder (chattr +a) takes new files but never renames or removes one: an output
  # there is written directly, as cp writes it; in place is refused before anything is written.
  in_place_case
  if chattr +a . 2>/dev/null; then
    in_place "in place, an append-only folder" untouched \
      "orvane: cannot swap 'in.bin' in place: its folder is append-only, where no file may be replaced" \
      in.bin
    for state in absent previous; do
      [ $state = previous ] && cp ../previous.bin out.bin
      "${program[@]}" -in ../original.bin -out out.bin -datasize 16
      check "an append-only folder, $state output: written directly" \
        test "$(xxd -p out.bin)" = "$swapped16"
      check "an append-only folder, $state output: nothing beside it" \
        test "$(ls -A | tr '\n' ' ')" = "in.bin out.bin sub "
      chattr -a . && rm out.bin && chattr +a .
    done
    chattr -a .
  else
    skip "an append-only folder: the attribute cannot be set here (it needs root and ext4 or alike)"
  fi
  # A file mounted on another name (a bind mount), swapped by either name: replacing it would
  # leave the other name showing the old data.
  in_place_case
  touch mounted.bin
  if mount --bind in.bin mounted.bin 2>/dev/null; then
    in_place "in place, a file mounted on another name" untouched \
      "orvane: cannot swap 'in.bin' in place: it is mounted on another name too (a bind mount), which replacing it would split" \
      in.bin
    umount mounted.bin
    # As the output of another file, it is written directly, by either name, both then showing it.
    for name in in.bin mounted.bin; do
      mount --bind in.bin mounted.bin
      "${program[@]}" -in ../original.bin -out $name -datasize 16 2>"$work/stderr.txt"
      check "a file mounted on another name, as the output by $name: written, shown by both" \
        test "$?$(xxd -p in.bin)$(xxd -p mounted.bin)" = "0$swapped16$swapped16"
      umount mounted.bin
      cp ../large.bin in.bin
    done
  else
    skip "a file mounted on another name: no bind mount can be made here (it needs root)"
  fi
  # A folder deeper than PATH_MAX: the file is named by a short relative path.
  in_place_case
  deep=$(printf 'd%.0s' {1..250})
  for _ in $(seq 20); do mkdir "$deep" && cd "$deep" || break; done
  mv "$work/case/in.bin" .
  in_place "in place, a folder deeper than PATH_MAX" swapped "" in.bin
  # Any signal that would end the program, during the swap, removes the new file, then ends the
  # program as the signal would (no core file is written: QUIT would leave one). A background job
  # starts with QUIT and INT ignored, which the program rightly leaves ignored: restored here.
  ulimit -c 0
  # start_swap_of_64mib [ENV-OPTION...]: a swap in place of a 64 MiB in.bin, in the background,
  # caught writing.
  start_swap_of_64mib() {
    in_place_case
    head -c $((64 << 20)) /dev/zero >in.bin
    env --default-signal "$@" "${program[@]}" -in in.bin -out in.bin -datasize 16 2>"$work/stderr.txt" &
    swapper=$!
    seen=no
    for _ in $(seq 1000); do
      if compgen -G 'orvane-*.tmp' >/dev/null; then seen=yes; break; fi
      sleep 0.01
    done
  }
  for signal in TERM HUP QUIT USR1 ALRM PIPE; do
    start_swap_of_64mib
    kill -$signal $swapper
    wait $swapper
    status=$?
    check "SIG$signal in place: the new file was there" test $seen = yes
    check "SIG$signal in place: ended by the signal ($status)" test $status -eq $((128 + $(kill -l $signal)))
    check "SIG$signal in place: nothing beside it" test "$(ls -A | tr '\n' ' ')" = "in.bin sub "
  done
  # One that was ignored when the program started stays ignored: the swap goes on to its end.
  start_swap_of_64mib --ignore-signal=USR1
  kill -USR1 $swapper
  wait $swapper
  status=$?
  check "SIGUSR1 ignored from the start, in place: the new file was there" test $seen = yes
  check "SIGUSR1 ignored from the start, in place: the swap ends ($status)" test $status -eq 0
  check "SIGUSR1 ignored from the start, in place: nothing beside it" test "$(ls -A | tr '\n' ' ')" = "in.bin sub "
  # An interrupt during the third of three files in place: the first two swapped, the third as it
  # was, nothing beside them, the signal's status.
  in_place_case
  printf '\x01\x02\x03\x04' >one.bin && cp one.bin two.bin
  yes ABCD | head -c $((64 << 20)) >in.bin
  env --default-signal "${program[@]}" -datasize 16 one.bin two.bin in.bin 2>"$work/stderr.txt" &
  swapper=$!
  for _ in $(seq 1000); do
    [ "$(xxd -p two.bin)" = 02010403 ] && compgen -G 'orvane-*.tmp' >/dev/null && break
    sleep 0.01
  done
  kill -INT $swapper
  wait $swapper
  check "SIGINT during the third file: ended by the signal ($?)" test $? -eq 130
  check "SIGINT during the third file: the first two swapped" \
    test "$(cat one.bin two.bin | xxd -p)" = 0201040302010403
  check "SIGINT during the third file: the third as it was" cmp -s in.bin <(yes ABCD | head -c $((64 << 20)))
  check "SIGINT during the third file: nothing beside them" \
    test "$(ls -A | tr '\n' ' ')" = "in.bin one.bin sub two.bin "
  # A file that another process holds open for writing or locks when the swap starts is refused
  # for that, not as changed; so is a second swap, started while the first is held stopped; the
  # first then swaps the file once.
  changed="orvane: 'in.bin' changed while it was being swapped, and is left as it is"
  held="orvane: cannot swap 'in.bin' in place: another process has it open for writing or locked; it is left as it is"
  in_place_case
  in_place "in place, held open for writing" untouched "$held" in.bin \
    bash -c 'exec 9>>in.bin; "$@"; status=$?; exec 9>&-; exit $status' held
  for lock in -s -x; do
    in_place_case
    in_place "in place, locked (flock $lock)" untouched "$held" in.bin flock $lock in.bin
  done
  start_swap_of_64mib
  kill -STOP $swapper
  timeout 10 "${program[@]}" -in in.bin -out in.bin -datasize 16 2>"$work/stderr.txt"
  check "a second swap in place at once: exit code" test $? -eq 1
  said "a second swap in place at once" "$held"
  kill -CONT $swapper
  wait $swapper
  check "a second swap in place at once: the first swaps" test $? -eq 0
  check "a second swap in place at once: nothing beside it" test "$(ls -A | tr '\n' ' ')" = "in.bin sub "
  # A writer that opens the file while it is swapped, and writes only later, is not lost: the swap
  # fails and the writer's record lands on the named file.
  start_swap_of_64mib
  kill -STOP $swapper
  bash -c "exec 3>>in.bin; while kill -0 $swapper 2>/dev/null; do sleep 0.01; done; printf REC >&3" &
  writer=$!
  sleep 0.5
  kill -CONT $swapper
  wait $swapper
  check "a writer during a swap in place: exit code" test $? -eq 1
  said "a writer during a swap in place" "$changed"
  wait $writer
  check "a writer during a swap in place: its record kept" test "$(tail -c 3 in.bin)" = REC
  check "a writer during a swap in place: nothing beside it" test "$(ls -A | tr '\n' ' ')" = "in.bin sub "
fi
# A full file system: a small one of its own, with room for the file but not for its copy, whose
# length is refused when it is reserved; the copy must go with the failure.
in_place_case
if mount -t tmpfs -o size=96k orvane-full sub 2>/dev/null; then
  cp in.bin sub/in.bin
  cd sub
  in_place "in place, a full file system" untouched \
    "orvane: cannot write 'in.bin': No space left on device" in.bin
  cd ..
  umount sub
else
  skip "in place, a full file system: no tmpfs can be mounted here (it needs root)"
fi
cd "$work"
# A file in an overlay's lower layer (every file of a container image; natively): opening it for
# writing copies it up, a change of the program's own, not another's. The overlay is mounted in a
# mount namespace of its own, whose user namespace gives back the capabilities dropped above (the
# overlay makes its work folder with no permissions at all); the swap runs there and is seen in the
# upper layer.
if [ "$platform" = native ]; then
  in_place_case
  mkdir lower upper overlay-work merged
  mv in.bin lower/in.bin
  in_overlay=(unshare --user --map-root-user --mount bash -c \
    'mount -t overlay orvane-overlay -o lowerdir=lower,upperdir=upper,workdir=overlay-work merged &&
     cd merged && "$@"' overlay)
  if "${in_overlay[@]}" true 2>/dev/null; then
    "${in_overlay[@]}" "${program[@]}" -in in.bin -out in.bin -datasize 16 2>"$work/stderr.txt"
    check "in place, a file in an overlay's lower layer: exit code $?" test $? -eq 0
    said "in place, a file in an overlay's lower layer" ""
    check "in place, a file in an overlay's lower layer: swapped, nothing beside it" \
      test "$(ls -A upper)$(cmp upper/in.bin ../large-swapped.bin)" = in.bin
  else
    skip "in place, a file in an overlay's lower layer: no overlay can be mounted here (it needs a user namespace or root)"
  fi
  cd "$work"
fi

# Calls that no file system fails on demand, made to fail in the real program by a library
# preloaded into it (fail_calls.cpp), added to any preloaded already (the sanitizers' runtime, which
# then must not insist on coming first): a flush, a rename or an exchange, or another process's doing
# just before the first rename.
#   failing CALL ERRNO NTH COMMAND...: runs COMMAND with the NTH call of CALL (every one for 0)
#   failing with ERRNO; the environment's ORVANE_BEFORE_RENAME, where set, runs before the rename
failing() {
  local call=$1 code=$2 nth=$3
  shift 3
  ORVANE_FAIL_CALL=$call ORVANE_FAIL_ERRNO=$code ORVANE_FAIL_NTH=$nth \
    LD_PRELOAD="${LD_PRELOAD:+$LD_PRELOAD:}$ORVANE_FAIL_CALLS" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "$@"
}
if [ "$platform" = native ] && [ -r "${ORVANE_FAIL_CALLS:-}" ]; then
  # The staged file's flush fails: nothing is replaced. The rename fails, in place, to a new output
  # and over an existing one: nothing is replaced either.
  in_place_case
  in_place "in place, the flush fails" untouched "orvane: cannot write 'in.bin': Input/output error" \
    in.bin failing fsync 5 1
  in_place_case
  in_place "in place, the replacement fails" untouched \
    "orvane: cannot put the swapped copy in the place of 'in.bin': Input/output error" \
    in.bin failing renameat2 5 0
  cd "$work"
  plain_program=("${program[@]}")
  program=(failing renameat2 5 0 "${program[@]}")
  for state in absent previous; do
    [ $state = previous ] && files=with-output || files=no-output
    setup $files
    expect_failure "the rename fails ($state output)" $state \
      "orvane: cannot put the swapped copy in the place of 'out.bin': Input/output error" \
      -in in.bin -out out.bin -datasize 16
  done
  program=("${plain_program[@]}")
  # The folder's flush fails once the file is swapped: said, as a failure.
  in_place_case
  failing fsync 5 2 "${program[@]}" -in in.bin -out in.bin -datasize 16 2>"$work/stderr.txt"
  check "in place, the folder's flush fails: exit code $?" test $? -eq 1
  said "in place, the folder's flush fails" "orvane: 'in.bin' is swapped, but may not survive a power cut: its folder could not be flushed (Input/output error)"
  check "in place, the folder's flush fails: swapped" same in.bin ../large-swapped.bin
  # A folder this user may not read is held for look-ups only, which cannot be flushed: swapped,
  # its rename left to the system.
  if [ $modes_bind = yes ]; then
    in_place_case
    chmod 311 .
    "${program[@]}" -in in.bin -out in.bin -datasize 16 2>"$work/stderr.txt"
    check "in place, a folder without read permission: exit code $?" test $? -eq 0
    chmod 755 .
    check "in place, a folder without read permission: swapped" same in.bin ../large-swapped.bin
    check "in place, a folder without read permission: nothing beside it" \
      test "$(ls -A | tr '\n' ' ')" = "in.bin sub "
  fi
  cd "$work"
  # A file that appears under a new output's name just before the rename is never replaced, where
  # the file system can rename without replacing and where it cannot (EINVAL for the flag).
  for nth in 9 1; do
    setup no-output
    ORVANE_BEFORE_RENAME='printf planted >out.bin' failing renameat2 22 $nth \
      "${program[@]}" -in in.bin -out out.bin -datasize 16 2>"$work/stderr.txt"
    check "a file appears under the output's name (rename $nth fails): exit code $?" test $? -eq 1
    said "a file appears under the output's name (rename $nth fails)" \
      "orvane: 'out.bin' changed while it was being swapped, and is left as it is"
    check "a file appears under the output's name (rename $nth fails): kept" \
      test "$(cat out.bin)$(ls | tr '\n' ' ')" = "plantedin.bin out.bin sub "
    cd "$work"
  done
  # A writer that opens the file in place just before its replacement: where the file system cannot
  # exchange (EINVAL), the plain rename cannot be undone, and the swap fails as changed; where the
  # exchange cannot be undone, the old file, which the writer writes, is kept beside it.
  writer='exec 3>>in.bin; printf REC >&3; touch ../wrote'
  written() { for _ in $(seq 500); do [ -e "$work/wrote" ] && break || sleep 0.01; done; }
  in_place_case
  ORVANE_BEFORE_RENAME=$writer failing renameat2 22 1 \
    "${program[@]}" -in in.bin -out in.bin -datasize 16 2>"$work/stderr.txt"
  check "a writer during a rename without exchange: exit code $?" test $? -eq 1
  said "a writer during a rename without exchange" \
    "orvane: 'in.bin' changed while it was being swapped, and is left as it is"
  written && rm -f "$work/wrote"
  in_place_case
  ORVANE_BEFORE_RENAME=$writer failing renameat2 5 2 \
    "${program[@]}" -in in.bin -out in.bin -datasize 16 2>"$work/stderr.txt"
  check "a writer, and the exchange not undone: exit code $?" test $? -eq 1
  said "a writer, and the exchange not undone" "orvane: 'in.bin' changed while it was being swapped, and could not be put back (Input/output error): its previous contents are kept beside it, as orvane-*.tmp"
  written
  check "a writer, and the exchange not undone: the old file and its record kept" \
    test "$(cat orvane-*.tmp | xxd -p | tr -d '\n')" = "$(cat ../large.bin - <<<REC | head -c 65539 | xxd -p | tr -d '\n')"
  check "a writer, and the exchange not undone: the file swapped" same in.bin ../large-swapped.bin
  rm -f orvane-*.tmp "$work/wrote"
  cd "$work"
else
  skip "failed renames and flushes: the preloaded library that makes them fail is not built here (native only)"
fi

# Many files and ranges (native only): a missing file among three is said and the others swapped;
# a second file of the same base name into one folder refused; a range that is not whole blocks
# refused before any file is made or changed, into a file and in place.
if [ "$platform" = native ]; then
  setup no-output
  cp in.bin sub/two.bin
  "${program[@]}" -datasize 16 in.bin missing.bin sub/two.bin 2>"$work/stderr.txt"
  check "a missing file among three: exit code $?" test $? -eq 1
  said "a missing file among three" "orvane: cannot open 'missing.bin': No such file or directory"
  check "a missing file among three: the others swapped" \
    test "$(xxd -p in.bin)$(xxd -p sub/two.bin)" = "$swapped16$swapped16"
  check "a missing file among three: nothing else created" test "$(ls | tr '\n' ' ')" = "in.bin sub "
  cd "$work"
  setup no-output
  mkdir out && cp ../previous.bin sub/in.bin
  "${program[@]}" -datasize 16 -out out in.bin sub/in.bin 2>"$work/stderr.txt"
  check "the same base name twice: exit code $?" test $? -eq 1
  said "the same base name twice" \
    "orvane: 'sub/in.bin' not swapped: 'out/in.bin' is the output of 'in.bin' already"
  check "the same base name twice: the first's output kept" \
    test "$(ls out)$(xxd -p out/in.bin)" = "in.bin$swapped16"
  cd "$work"
  # Two outputs that reach one file (two links in the folder, or a file swapped in place and a link
  # to it): the second refused, the first's output kept.
  for row in out:x.bin:target.bin .:link.bin:in.bin; do
    IFS=: read -r folder second reached <<<"$row"
    setup no-output
    mkdir out && cp ../previous.bin x.bin && ln -s in.bin link.bin
    ln -s ../target.bin out/in.bin && ln -s ../target.bin out/x.bin
    "${program[@]}" -datasize 16 -out $folder in.bin $second 2>"$work/stderr.txt"
    check "two outputs reach $reached: exit code $?" test $? -eq 1
    said "two outputs reach $reached" \
      "orvane: '$second' not swapped: '$folder/$second' is the output of 'in.bin' already"
    check "two outputs reach $reached: swapped once" test "$(xxd -p $reached)" = "$swapped16"
    cd "$work"
  done
  # The folder renamed and a link to another put in its place once the first output exists (the
  # first file a named pipe, held open until then): the second output still goes into the folder.
  setup no-output
  mkdir out elsewhere && mkfifo pipe.bin
  {
    exec 3<>pipe.bin
    printf abcd >&3
    for _ in $(seq 500); do [ -e out/pipe.bin ] && break || sleep 0.01; done
    mv out out.old && ln -s elsewhere out
  } &
  "${program[@]}" -datasize 16 -out out pipe.bin in.bin 2>"$work/stderr.txt"
  check "the folder replaced by a link meanwhile: exit code $?" test $? -eq 0
  wait
  check "the folder replaced by a link meanwhile: both outputs in it" \
    test "$(ls -A elsewhere)$(ls out.old | tr '\n' ' ')$(xxd -p out.old/in.bin)" = \
    "in.bin pipe.bin $swapped16"
  cd "$work"
  setup no-output
  ln -s in.bin link.bin
  "${program[@]}" -datasize 16 in.bin ./in.bin link.bin 2>"$work/stderr.txt"
  check "the same file named three times: exit code $?" test $? -eq 1
  check "the same file named three times: swapped once" test "$(xxd -p in.bin)" = "$swapped16"
  check "the same file named three times: says why, for each repeat" test "$(cat "$work/stderr.txt")" = \
    "orvane: './in.bin' not swapped again: it is 'in.bin', swapped already in this command"$'\n'"orvane: 'link.bin' not swapped again: it is 'in.bin', swapped already in this command"
  cd "$work"
  # A file named again after its swap failed (refused for its size; missing, named the same way
  # twice) is not said to have been swapped.
  for row in "six.bin ./six.bin|orvane: 'six.bin' is 6 bytes, not a whole number of 4-byte blocks" \
    "missing.bin missing.bin|orvane: cannot open 'missing.bin': No such file or directory"; do
    IFS='|' read -r names first <<<"$row"
    setup no-output
    head -c 6 ../original.bin >six.bin
    # shellcheck disable=SC2086 # two names
    "${program[@]}" -datasize 32 $names 2>"$work/stderr.txt"
    check "a repeat of '${names% *}' whose swap failed: exit code $?" test $? -eq 1
    check "a repeat of '${names% *}' whose swap failed: its failure said, no swap claimed" test \
      "$(head -n 1 "$work/stderr.txt")|$(grep -c 'swapped already' "$work/stderr.txt")" = "$first|0"
    cd "$work"
  done
  setup no-output
  expect_failure "a range not whole blocks" absent \
    "orvane: 'in.bin' is 16 bytes: from offset 2 that leaves 14 bytes, not a whole number of 4-byte blocks" \
    -in in.bin -out out.bin -datasize 32 -offset 2
  setup no-output
  expect_failure "a range beyond the end, in place" absent \
    "orvane: 'in.bin' is 16 bytes: from offset 4 it holds 12 bytes, fewer than the length 16" \
    -datasize 32 -offset 4 -length 16 in.bin
  # The size is refused before the output is looked at, one file or many: neither a missing folder
  # nor a second name of the file in place is said.
  sizes="orvane: 'in.bin' is 16 bytes, not a whole number of 3-byte blocks"
  setup no-output
  expect_failure "a size refused, the output's folder missing" absent "$sizes" \
    -in in.bin -out nowhere/out.bin -datasize 24
  setup no-output
  ln in.bin ../second.bin
  expect_failure "a size refused, many files in place, one with a second name" absent "$sizes" \
    -datasize 24 in.bin
  rm "$work/second.bin"
  # Into standard output too: the size is said before standard output is looked at.
  setup no-output
  "${program[@]}" -in in.bin -out - -datasize 24 >&- 2>"$work/stderr.txt"
  check "a size refused, standard output closed: exit code" test $? -eq 1
  said "a size refused, standard output closed" "$sizes"
  cd "$work"
  # A layout that does not cover the 16 bytes, or the range, exactly; and a layout file missing.
  setup no-output
  expect_failure "a layout whose fixed groups leave what its repeated group does not divide" absent \
    "orvane: 'in.bin' is 16 bytes: the layout's fixed groups take 6, and its repeated group of 4 bytes does not divide the 10 left" \
    -in in.bin -out out.bin -layout '4sh i:*'
  setup with-output
  expect_failure "a layout of fixed groups longer than the file" previous \
    "orvane: 'in.bin' is 16 bytes: the layout takes 20 bytes, not 16" \
    -in in.bin -out out.bin -layout '4si2f i'
  setup with-output
  expect_failure "a layout whose fixed groups take more than the range" previous \
    "orvane: 'in.bin' is 16 bytes: the range has 6 bytes from offset 10; the layout's fixed groups take 8, more than there are" \
    -in in.bin -out out.bin -layout 'q h:*' -offset 10
  setup no-output
  expect_failure "a layout file missing" absent \
    "orvane: cannot read the layout file 'missing.txt': No such file or directory (a layout that starts with '@' names a file; Python's '@', native alignment, is not taken)" \
    -in in.bin -out out.bin -layout @missing.txt
  setup no-output
  cp in.bin fits.bin
  printf '\x01\x02\x03\x04\x05' >odd.bin
  "${program[@]}" --layout='h:*' odd.bin fits.bin 2>"$work/stderr.txt"
  check "many files, one the layout does not fit: exit code $?" test $? -eq 1
  check "many files, one the layout does not fit: the others swapped" test \
    "$(xxd -p fits.bin) $(xxd -p odd.bin)" = "$swapped16 0102030405"
  said "many files, one the layout does not fit" \
    "orvane: 'odd.bin' is 5 bytes: the layout's repeated group of 2 bytes does not divide 5"
  cd "$work"
  # A file named again once others were swapped in place, on a file system that gives a new file
  # the number a replaced one let go (ext4, made and mounted for the case): the repeat names the
  # file it is, not another whose old number its new file took.
  setup no-output
  if truncate -s 8M ../numbers.img && mkfs.ext4 -q ../numbers.img 2>/dev/null &&
    mount -o loop ../numbers.img sub 2>/dev/null; then
    for f in a b c; do cp in.bin sub/$f.bin; done
    "${program[@]}" -datasize 16 sub/a.bin sub/b.bin sub/./b.bin sub/c.bin sub/./c.bin \
      2>"$work/stderr.txt"
    check "a repeat whose file took a replaced one's number: exit code $?" test $? -eq 1
    said "a repeat whose file took a replaced one's number" \
      "orvane: 'sub/./b.bin' not swapped again: it is 'sub/b.bin', swapped already in this command"$'\n'"orvane: 'sub/./c.bin' not swapped again: it is 'sub/c.bin', swapped already in this command"
    umount sub
  else
    skip "a repeat whose file took a replaced one's number: no ext4 image can be made and mounted here"
  fi
  rm -f ../numbers.img
  cd "$work"
  # An output in the folder that reaches a file named as an input after it (the file itself, or
  # through a link in the folder) is never written over it: that input keeps its data.
  for row in sub:sub/in.bin out:other.bin; do
    IFS=: read -r folder later <<<"$row"
    setup no-output
    mkdir -p out && ln -s ../other.bin out/in.bin && cp ../previous.bin $later
    "${program[@]}" -datasize 16 -out $folder in.bin $later 2>"$work/stderr.txt"
    check "an output that reaches '$later', an input named later: exit code $?" test $? -eq 1
    check "an output that reaches '$later', an input named later: its data kept" same $later ../previous.bin
    cd "$work"
  done
  # More files than the process may hold descriptors: each resolved and let go in its turn, in place
  # and into a folder.
  setup no-output
  mkdir out && for i in $(seq 40); do cp in.bin f$i.bin; done
  (ulimit -n 16 && "${program[@]}" -datasize 16 f*.bin && "${program[@]}" -datasize 16 -out out f*.bin)
  check "more files than descriptors: exit code $?" test $? -eq 0
  check "more files than descriptors: each swapped in place, and back into the folder" \
    test "$(cat f*.bin | xxd -p | tr -d '\n') $(cat out/f*.bin | xxd -p | tr -d '\n')" = \
    "$(printf "$swapped16%.0s" $(seq 40)) $(for i in $(seq 40); do xxd -p ../original.bin; done | tr -d '\n')"
  cd "$work"
fi

# Streams (native only): a stream that fails at its end (not whole blocks) creates no output; one
# written directly (a pipe) has had the whole blocks before its end passed on, a prefix of the
# result. A stream that cannot be read; one redirected from the output file, which creating the
# output would truncate; a terminal as standard output, refused before anything is read.
if [ "$platform" = native ]; then
  setup no-output
  { cat ../large.bin; printf '\x01\x02\x03'; } | "${program[@]}" -in - -out out.bin -datasize 32 \
    2>"$work/stderr.txt"
  check "stream not whole blocks: exit code" test "${PIPESTATUS[1]}" -eq 1
  said "stream not whole blocks" \
    "orvane: standard input is 65539 bytes, not a whole number of 4-byte blocks"
  check "stream not whole blocks: no output, nothing beside it" test "$(ls | tr '\n' ' ')" = "in.bin sub "
  { cat ../large.bin; printf '\x01\x02\x03'; } | "${program[@]}" -in - -out - -datasize 32 \
    2>"$work/stderr.txt" | cat >piped.bin
  check "stream not whole blocks, to a pipe: exit code" test "${PIPESTATUS[1]}" -eq 1
  objcopy -I binary -O binary --reverse-bytes=4 ../large.bin ../large-swapped32.bin
  check "stream not whole blocks, to a pipe: the blocks before passed on" same piped.bin ../large-swapped32.bin
  # A pipe's own access (0600) says nothing of its data: a new output gets what a new file gets.
  printf '\x01\x02\x03\x04' | (umask 022 && exec "${program[@]}" -in - -out out.bin -datasize 16)
  check "a stream into a new output: swapped, with a new file's access" \
    test "$(xxd -p out.bin) $(stat -c %a out.bin)" = "02010403 644"
  cd "$work"
  setup no-output
  "${program[@]}" -in - -out out.bin -datasize 16 0>>in.bin 2>"$work/stderr.txt"
  check "standard input not readable: exit code" test $? -eq 1
  said "standard input not readable" "orvane: cannot read standard input: Bad file descriptor"
  check "standard input not readable: input untouched" same in.bin ../original.bin
  cd "$work"
  setup no-output
  "${program[@]}" -in - -out in.bin -datasize 16 <in.bin 2>"$work/stderr.txt"
  check "standard input from the output file: exit code" test $? -eq 1
  said "standard input from the output file" \
    "orvane: standard input is 'in.bin' itself: to swap it in place, name it as -in and -out"
  check "standard input from the output file: untouched" same in.bin ../original.bin
  cd "$work"
  # Refused before any output is touched: standard input closed, an empty stream, standard output
  # that is the input file or standard input's file (it would read its own output without end), a
  # named pipe as both input and output, /dev/null (an empty stream).
  stream_case() {  # stream_case NAME MESSAGE COMMAND...: out.bin holds the previous output after
    local name=$1 message=$2
    shift 2
    setup with-output
    "$@" 2>"$work/stderr.txt"
    local status=$?
    check "$name: exit code $status" test $status -eq 1
    said "$name" "$message"
    check "$name: input untouched" same in.bin ../original.bin
    check "$name: output as it was" same out.bin ../previous.bin
    check "$name: nothing else created" test "$(ls | tr '\n' ' ')" = "in.bin out.bin sub "
    cd "$work"
  }
  o=$(printf '%q ' "${program[@]}")
  stream_case "standard input closed" "orvane: standard input is closed" \
    bash -c "exec $o -in - -out out.bin -datasize 16 <&-"
  stream_case "an empty stream" "orvane: standard input is empty" \
    bash -c "exec $o -in - -out out.bin -datasize 16 </dev/null"
  stream_case "a stream shorter than a block" \
    "orvane: standard input is 3 bytes, not a whole number of 4-byte blocks" \
    bash -c "printf abc | $o -in - -out out.bin -datasize 32"
  # A stream that fails after whole blocks have come: the existing output stays as it was.
  stream_case "a stream not whole blocks, over an existing output" \
    "orvane: standard input is 65539 bytes, not a whole number of 4-byte blocks" \
    bash -c "{ cat ../large.bin; printf abc; } | $o -in - -out out.bin -datasize 32"
  stream_case "a stream shorter than its range" \
    "orvane: standard input is 64 bytes: from offset 0 it holds 64 bytes, fewer than the length 128" \
    bash -c "head -c 64 ../large.bin | $o -in - -out out.bin -datasize 16 -length 128"
  stream_case "a length no stream can hold" \
    "orvane: invalid -length '0': it must be a non-zero whole number of 2-byte blocks"$'\n'"Try 'orvane --help' for more information." \
    bash -c "head -c 64 ../large.bin | $o -in - -out out.bin -datasize 16 -length 0"
  stream_case "a stream for a layout with groups after its '*' group" \
    "orvane: standard input is a stream, whose length comes only with its end: the layout's groups after its '*' group cannot be placed in it (give -length, or end the layout with that group)" \
    bash -c "cat in.bin | $o -in - -out out.bin -layout '4s h:* 4s'"
  stream_case "standard input from a file, for a layout with groups after its '*' group" \
    "orvane: standard input is a stream, whose length comes only with its end: the layout's groups after its '*' group cannot be placed in it (give -length, or end the layout with that group)" \
    bash -c "exec $o -in - -out out.bin -layout '4s h:* 4s' <in.bin"
  stream_case "standard output appended to the input" \
    "orvane: standard output is 'in.bin' itself, which it would read back without end" \
    bash -c "exec $o -in in.bin -out - -datasize 16 >>in.bin"
  stream_case "standard output appended to the input, named as /dev/stdout" \
    "orvane: cannot swap '/dev/stdout' in place: this command's own standard output has it open for writing" \
    bash -c "exec $o -in in.bin -out /dev/stdout -datasize 16 >>in.bin"
  # Standard input open for writing on a file in place holds it as standard output does; a
  # standard stream closed at the start is closed by any name, not the filler it was given.
  stream_case "in place, standard input open for writing on the file" \
    "orvane: cannot swap 'in.bin' in place: this command's own standard input has it open for writing" \
    bash -c "exec $o -datasize 16 in.bin 0<>in.bin"
  stream_case "standard output closed, named as /dev/stdout" "orvane: '/dev/stdout' is closed" \
    bash -c "exec $o -in in.bin -out /dev/stdout -datasize 16 >&-"
  stream_case "standard input closed, named as /dev/stdin" "orvane: '/dev/stdin' is closed" \
    bash -c "exec $o -in /dev/stdin -out out.bin -datasize 16 <&-"
  stream_case "standard output a folder, as the output of two files" \
    "orvane: -out '-' is not a folder, as it must be for several files"$'\n'"Try 'orvane --help' for more information." \
    bash -c "exec $o -datasize 16 -out - in.bin out.bin 1<sub"
  stream_case "a file under /proc in place" \
    "orvane: cannot swap '/proc/sys/kernel/ostype' in place: it is not a regular file that can be replaced" \
    "${program[@]}" -in /proc/sys/kernel/ostype -out /proc/sys/kernel/ostype -datasize 16
  stream_case "an empty file in place" "orvane: 'empty.bin' is empty" \
    bash -c ": >empty.bin && $o -datasize 16 empty.bin; status=\$?; rm empty.bin; exit \$status"
  stream_case "standard output appended to standard input's file" \
    "orvane: standard output is the same file as standard input, which it would read back without end" \
    bash -c "exec $o -in - -out - -datasize 16 <in.bin >>in.bin"
  stream_case "a named pipe as input and output" \
    "orvane: 'pipe' is a named pipe: it cannot be swapped in place" \
    bash -c "mkfifo pipe && timeout 10 $o -in pipe -out pipe -datasize 16; status=\$?; rm pipe; exit \$status"
  stream_case "/dev/null as input" "orvane: '/dev/null' is empty" \
    "${program[@]}" -in /dev/null -out out.bin -datasize 16
  stream_case "a name that would break the line" \
    "orvane: cannot open 'a\\nb\\x1b[31m\\xff': No such file or directory" \
    "${program[@]}" -in "$(printf 'a\nb\033[31m\377')" -out out.bin -datasize 16
  setup no-output
  "${program[@]}" -in /dev/zero -out - -datasize 16 2>"$work/stderr.txt" | head -c 65536 >zeros.bin
  check "a device as input: read as a stream" cmp -s zeros.bin <(head -c 65536 /dev/zero)
  cd "$work"
  setup no-output
  script -qec "$(printf '%q ' "${program[@]}") -in in.bin -out - -datasize 16" /dev/null \
    >"$work/stderr.txt"
  check "terminal as standard output: exit code" test $? -eq 1
  check "terminal as standard output: says why" test "$(tr -d '\r' <"$work/stderr.txt")" = \
    "orvane: swapped data not written to a terminal: redirect standard output, or name a file as -out"
  cd "$work"
fi

# Another process holds the output open, sharing it (on Linux every open shares): the swap succeeds.
# Under Windows the holder reads the new contents through its own open file; on Linux the output is
# replaced, and the holder keeps reading the old one.
setup with-output
exec 7<out.bin
"${program[@]}" -in in.bin -out out.bin -datasize 16
check "output held open by another process: exit code" test $? -eq 0
check "output held open by another process: swapped" test "$(xxd -p out.bin)" = "$swapped16"
if [ "$platform" = native ]; then
  check "output held open by another process: the holder reads the old output" \
    test "$(head -c 16 <&7)" = "$(head -c 16 ../previous.bin)"
else
  check "output held open by another process: the holder reads the swap" \
    test "$(head -c 16 <&7 | xxd -p)" = "$swapped16"
fi
exec 7<&-
cd "$work"

# A pipe as the output, named by a path (natively): written directly, as a device is.
if [ "$platform" = native ]; then
  setup no-output
  "${program[@]}" -in in.bin -out /dev/stdout -datasize 16 | cat >piped.bin
  check "a pipe as the output: swapped" test "$(xxd -p piped.bin)" = "$swapped16"
  cd "$work"
  # A new output gives no wider access than its input's access control list: a named reader (the
  # group's bits then show the list's mask) and a deny entry.
  for list in "600 u:65534:r group::---" "644 u:65534:- user:65534:---"; do
    read -r mode entry expected <<<"$list"
    setup no-output
    chmod "$mode" in.bin
    if setfacl -m "$entry" in.bin 2>/dev/null; then
      "${program[@]}" -in in.bin -out out.bin -datasize 16
      check "a new output of an input with $entry: $expected" \
        grep -qx "$expected" <(getfacl -cpn out.bin 2>/dev/null)
    else
      skip "a new output of an input with an access control list: not supported here"
    fi
    cd "$work"
  done
  # Nor any wider than its input whatever its folder gives: a set-group-ID folder's group (the
  # input's given instead where this user may, else nothing to the group), a folder's default
  # access control list where the input has none. As root, and as a user who cannot give the group.
  if [ "$(id -u)" -eq 0 ] && [ $as_other_ok = yes ]; then
    for row in "root 2777 - 0:6400" "65534 2777 - 12345:6000" "root 777 u:65534:rwx 0:6400"; do
      read -r who mode default expected <<<"$row"
      setup no-output
      mkdir folder && chgrp 12345 folder && chmod "$mode" folder
      chmod 640 in.bin && chown 65534:0 in.bin
      [ "$default" != - ] && setfacl -d -m "$default" folder
      run=("${program[@]}")
      [ "$who" != root ] && run=("${as_owner[@]}" "$work/reachable/orvane")
      "${run[@]}" -in in.bin -out folder/new.bin -datasize 16
      check "a new output in a folder of mode $mode, default list $default, by $who: $expected" \
        test "$(stat -c %g:%a folder/new.bin)$(getfacl -cpn folder/new.bin | grep -c 65534)" = "$expected"
      cd "$work"
    done
  else
    skip "new outputs in set-group-ID and default-list folders: only root can make another user's folder here"
  fi
  # A file of the system that reports a size of 0, its length known only at its end: read whole.
  setup no-output
  cat /proc/sys/kernel/ostype >ostype.bin
  objcopy -I binary -O binary --reverse-bytes=2 ostype.bin ostype-swapped.bin
  "${program[@]}" -in /proc/sys/kernel/ostype -out out.bin -datasize 16 2>"$work/stderr.txt"
  check "a file that reports no size: exit code" test $? -eq 0
  check "a file that reports no size: swapped" same out.bin ostype-swapped.bin
  cd "$work"
  # An open file whose name is gone, named through the descriptor that holds it: written directly,
  # and no file is named after the system's description of it.
  setup no-output
  exec 8<>gone.bin
  rm gone.bin
  "${program[@]}" -in in.bin -out /proc/self/fd/8 -datasize 16
  check "an open file whose name is gone: written" test "$(xxd -p /proc/self/fd/8)" = "$swapped16"
  exec 8<&-
  check "an open file whose name is gone: nothing created" test "$(ls | tr '\n' ' ')" = "in.bin sub "
  cd "$work"
  # The same with another name left: written through the descriptor, shown by the other name; and
  # that file as the input too, which nothing could replace, refused.
  setup no-output
  exec 8<>gone.bin
  ln gone.bin other.bin
  rm gone.bin
  "${program[@]}" -in in.bin -out /proc/self/fd/8 -datasize 16
  check "an open file with another name: written through it" test "$?$(xxd -p other.bin)" = "0$swapped16"
  check "an open file with another name: nothing created" test "$(ls | tr '\n' ' ')" = "in.bin other.bin sub "
  "${program[@]}" -in other.bin -out /proc/self/fd/8 -datasize 16 2>"$work/stderr.txt"
  check "an open file with another name, as the input too: exit code $?" test $? -eq 1
  said "an open file with another name, as the input too" \
    "orvane: cannot swap '/proc/self/fd/8' in place: it is not a regular file that can be replaced"
  check "an open file with another name, as the input too: untouched" test "$(xxd -p other.bin)" = "$swapped16"
  exec 8<&-
  cd "$work"
  # An open file whose folder is gone, named through the descriptor that holds it: read through what
  # the link reached, as one whose name alone is gone; in place, it has no name to replace.
  setup no-output
  mkdir gone && cp in.bin gone/in.bin
  exec 8<gone/in.bin
  rm -r gone
  "${program[@]}" -in /proc/self/fd/8 -out out.bin -datasize 16 2>"$work/stderr.txt"
  check "an open file whose folder is gone, as the input: swapped" test "$?$(xxd -p out.bin)" = "0$swapped16"
  "${program[@]}" -datasize 16 /proc/self/fd/8 2>"$work/stderr.txt"
  check "an open file whose folder is gone, in place: exit code $?" test $? -eq 1
  said "an open file whose folder is gone, in place" \
    "orvane: cannot swap '/proc/self/fd/8' in place: it is not a regular file that can be replaced"
  exec 8<&-
  cd "$work"
  # An input named through a link of /proc (a pipe as /dev/stdin, an open file as /dev/fd/N) is read
  # through what the link reached; "-" as one file's output is standard output, whatever the current
  # folder holds under that name.
  setup no-output
  printf '\x01\x02\x03\x04' | "${program[@]}" -in /dev/stdin -out piped.bin -datasize 16
  "${program[@]}" -in /dev/fd/8 -out opened.bin -datasize 16 8<in.bin
  mkdir ./-
  "${program[@]}" -datasize 16 -out - in.bin >standard.bin
  check "inputs through links of /proc, and '-' as one file's output: swapped" \
    test "$(xxd -p piped.bin) $(xxd -p opened.bin) $(xxd -p standard.bin) $(ls -A ./-)" = \
    "02010403 $swapped16 $swapped16 "
  cd "$work"
fi

report
