#!/usr/bin/env bash
# Which Windows builds this host can run under Wine, found by trying rather than by names:
#   wine-builds.sh            one line per build: "win32 yes", or "win32 no: <why>"; likewise win64
#   wine-builds.sh --usable   only the usable ones' names, win32 first
#   wine-builds.sh --runs-32-bit-code   exit status 0 when the kernel executes 32-bit code
# win32 (Orvane.exe) needs a kernel that executes 32-bit code, which some x86-64 hosts lack, and
# Debian's wine32; win64 (Orvane64.exe) needs Debian's wine64.
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/variants.sh
source "$root/scripts/variants.sh"

# A complete 32-bit x86 Linux program of 96 bytes, needing no library: exit(42) through int 0x80.
# Where the kernel cannot execute 32-bit code, starting it fails with "Exec format error". It runs
# from the first of two folders that lets programs run: $TMPDIR, else the project's build folder,
# where the build runs its own programs anyway. A folder mounted noexec refuses every program
# ("Permission denied"), which says nothing about 32-bit code: a shell script started there first
# tells such a folder apart.
# probe_32_bit_code: exit status 0 when the probe ran; otherwise it prints why not.
probe_32_bit_code() {
  local folder probe error status refused=""
  for folder in "${TMPDIR:-/tmp}" "$root/build"; do
    mkdir -p "$folder" 2>/dev/null
    if ! probe=$(mktemp -d "$folder/orvane-i386-probe.XXXXXX" 2>&1); then
      refused+="${refused:+; }$folder: ${probe##*: }"
      continue
    fi
    printf '#!/bin/sh\nexit 0\n' >"$probe/script"
    printf '%b' \
      '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
      '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
      '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
      '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
      '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
      '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe/i386"
    chmod +x "$probe/script" "$probe/i386"
    if ! error=$("$probe/script" 2>&1); then
      refused+="${refused:+; }$folder: ${error##*: }"
      rm -rf "$probe"
      continue
    fi
    error=$("$probe/i386" 2>&1)
    status=$?
    rm -rf "$probe"
    [ $status -eq 42 ] && return 0
    # The shell's own words (the probe's path left out), or the signal that ended it.
    error=${error##*"$probe/i386": }
    [ $status -gt 128 ] && [ -z "$error" ] && error="killed by SIG$(kill -l $((status - 128)))"
    echo "a 32-bit program does not run on this host: ${error:-no message} (exit status $status)"
    return 1
  done
  echo "no folder here lets a program run, to try 32-bit code in ($refused)"
  return 1
}

# The verdict on one Wine: its loader installed and starting.
wine_verdict() {  # wine_verdict KIND LOADER WHAT
  if ! [ -x "$2" ]; then
    echo "$1 no: $3 is not installed"
  elif ! "$2" --version >/dev/null 2>&1; then
    echo "$1 no: $3 does not start"
  else
    echo "$1 yes"
  fi
}

# The verdict on each build's Wine, in the order of scripts/variants.sh; a 32-bit one only where
# 32-bit code runs.
verdicts() {
  local preset wine bits why
  for preset in "${windows_builds[@]}"; do
    wine=${build_wine[$preset]}
    bits=${wine#win}
    if [ "$bits" = 32 ] && ! why=$(probe_32_bit_code); then
      echo "$wine no: $why"
    else
      wine_verdict "$wine" "${build_loader[$preset]}" "$bits-bit Wine (Debian's wine$bits)"
    fi
  done
}

case ${1:-} in
  --usable) verdicts | sed -n 's/ yes$//p' ;;
  --runs-32-bit-code) probe_32_bit_code >/dev/null ;;
  *) verdicts ;;
esac
