#!/usr/bin/env bash
# Runs the native command line under valgrind's memcheck on real swaps (to a new file, then in place,
# then streamed), a usage error and failed swaps, and fails on any memory error or leak. Give it an
# optimised build without the sanitizers (the linux preset): valgrind cannot run beside AddressSanitizer.
#   scripts/memcheck.sh PATH-TO-ORVANE
set -u
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 65536 /dev/urandom >"$work/in.bin"
cp "$work/in.bin" "$work/original.bin"

# The one block the program never frees on purpose: the C++ runtime linked into it keeps a pool for
# exceptions from start to exit, which the shared runtime frees for valgrind and a static one cannot.
cat >"$work/runtime.supp" <<'EOF'
{
   the C++ runtime's exception pool, allocated once at start
   Memcheck:Leak
   match-leak-kinds: reachable
   fun:malloc
   fun:_GLOBAL__sub_I_eh_alloc.cc
}
EOF

# Memory errors and leaks make memcheck end the run with 99, apart from the program's own 0 and 1.
memcheck=(valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=all
  --errors-for-leak-kinds=all --suppressions="$work/runtime.supp")
failed=0
expect() {  # expect EXIT-CODE ARGS...
  local wanted=$1
  shift
  "${memcheck[@]}" "$program" "$@" 2>"$work/log"
  local status=$?
  if [ $status -ne "$wanted" ]; then
    cat "$work/log"
    echo "FAILED: orvane $* ended with $status under memcheck, not $wanted"
    failed=1
  fi
}
expect 0 -in "$work/in.bin" -out "$work/out.bin" -datasize 32
expect 0 -in "$work/out.bin" -out "$work/out.bin" -datasize 32
cmp -s "$work/out.bin" "$work/original.bin" || { echo "FAILED: swapping twice did not restore the file"; failed=1; }
# A stream from standard input, and one that is not whole blocks, through the streaming routine.
expect 0 -in - -out "$work/out.bin" -datasize 16 <"$work/in.bin"
expect 1 -in - -out "$work/out.bin" -datasize 16 < <(printf 'odd')
# A usage error and a failed swap take the other ways out of the program.
expect 1 -in "$work/in.bin" -datasize 12
expect 1 -in "$work/missing.bin" -out "$work/x.bin" -datasize 16

[ $failed -eq 0 ] && echo "memcheck: no errors, no leaks"
exit $failed
