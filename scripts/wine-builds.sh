#!/usr/bin/env bash
# Which Windows builds this host can run under Wine, found by trying rather than by names:
#   wine-builds.sh            one line per build: "win32 yes", or "win32 no: <why>"; likewise win64
#   wine-builds.sh --usable   only the usable ones' names, win32 first
#   wine-builds.sh --runs-32-bit-code   exit status 0 when the kernel executes 32-bit code
# win32 (Orvane.exe) needs a kernel that executes 32-bit code, which some x86-64 hosts lack, and
# Debian's wine32; win64 (Orvane64.exe) needs Debian's wine64.
set -u

# A complete 32-bit x86 Linux program of 96 bytes, needing no library: exit(42) through int 0x80.
# Where the kernel cannot execute 32-bit code, starting it fails with "Exec format error".
runs_32_bit_code() {
  local probe status
  probe=$(mktemp "${TMPDIR:-/tmp}/orvane-i386-probe.XXXXXX") || return 1
  printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  status=$?
  rm -f "$probe"
  [ $status -eq 42 ]
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

win32() {
  if runs_32_bit_code; then
    wine_verdict win32 /usr/lib/wine/wine "32-bit Wine (Debian's wine32)"
  else
    echo "win32 no: this host cannot execute 32-bit code (Exec format error)"
  fi
}

win64() { wine_verdict win64 /usr/lib/wine/wine64 "64-bit Wine (Debian's wine64)"; }

case ${1:-} in
  --usable) { win32; win64; } | sed -n 's/ yes$//p' ;;
  --runs-32-bit-code) runs_32_bit_code ;;
  *) win32; win64 ;;
esac
