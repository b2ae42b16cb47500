#!/usr/bin/env bash
# Runs a command with a fresh, private Wine prefix set up for testing, then removes the prefix.
#   ORVANE_WINE_ARCH=win32|win64 scripts/with-wine.sh COMMAND [ARGS...]
# win32 runs 32-bit programs (Orvane.exe) in a 32-bit prefix; win64 runs 64-bit ones (Orvane64.exe)
# in a 64-bit prefix, on hosts that cannot run 32-bit code too. Without ORVANE_WINE_ARCH it is the
# one the host can run, win32 where both can. Inside, `wine` starts the chosen loader: Debian's
# /usr/bin/wine always takes the 32-bit one when it is installed, even where it cannot run.
# Run it under an X server (xvfb-run) when the command shows windows.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/variants.sh
source "$here/variants.sh"
if [ -z "${ORVANE_WINE_ARCH:-}" ]; then
  ORVANE_WINE_ARCH=$(bash "$here/wine-builds.sh" --usable | head -n 1)
  ORVANE_WINE_ARCH=${ORVANE_WINE_ARCH:-win32}
fi
if ! preset=$(build_running_under "$ORVANE_WINE_ARCH"); then
  wines=""
  for preset in "${windows_builds[@]}"; do wines+="${wines:+ or }${build_wine[$preset]}"; done
  echo "with-wine.sh: ORVANE_WINE_ARCH must be $wines, not '$ORVANE_WINE_ARCH'" >&2
  exit 2
fi
loader=${build_loader[$preset]}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/orvane-wine.XXXXXX")
export ORVANE_WINE_ARCH WINEARCH=$ORVANE_WINE_ARCH WINELOADER=$loader
export WINEPREFIX="$scratch/prefix" HOME="$scratch/home" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# However the run ends, interrupted included: the command is ended; the resident process too,
# outright, as one still starting would bring up a server after the others are gone; then this
# prefix's own server with every Wine process it still holds (another prefix's server is not
# touched); and the prefix goes. The command runs in the background and is waited for, as a signal
# is handled only between commands: a wait can be interrupted, a command in the foreground cannot.
command_pid="" resident_pid=""
clean_up() {
  [ -n "$command_pid" ] && kill "$command_pid" 2>/dev/null && wait "$command_pid" 2>/dev/null
  [ -n "$resident_pid" ] && kill -KILL "$resident_pid" 2>/dev/null && wait "$resident_pid" 2>/dev/null
  exec 9>&-
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$scratch"
}
trap clean_up EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$HOME" "$scratch/bin"
# `wine`, and `wine-stable` behind Wine's own tools (wineboot), start the chosen loader.
for name in wine wine-stable; do
  printf '#!/bin/sh\nexec %s "$@"\n' "$loader" >"$scratch/bin/$name"
  chmod +x "$scratch/bin/$name"
done
export PATH="$scratch/bin:$PATH"

# Fonts as a Windows desktop has them. Wine's own, from Debian's fonts-wine, are not looked for by
# this Wine: it finds them among the user's fonts. Marlett's glyphs are the caption buttons (without
# it the close box shows the letter "r"). "MS Shell Dlg", the dialogs' font, is Microsoft Sans Serif
# on Windows; Wine makes it Tahoma, which is wider here, and without either it takes DejaVu Sans,
# wider still: labels and the Browse button's text were cut. Liberation Sans (fonts-liberation) has
# the widths of Arial, close to Windows' own.
mkdir -p "$HOME/.local/share/fonts"
ln -s /usr/share/wine/fonts/*.ttf "$HOME/.local/share/fonts/" 2>/dev/null

wineboot -i >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
  /v 'MS Shell Dlg' /t REG_SZ /d 'Liberation Sans' /f >/dev/null 2>&1
# No window manager: without Managed=N each hidden or destroyed top-level window stalls ~2 s.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
# A crash fails the test instead of opening a crash window.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wineserver -w
# One resident process keeps the server and its services up for the whole run: each test starts in
# ~30 ms instead of ~0.4 s, and no service started by a test holds the test's output pipe open.
# It reads a pipe that nothing writes to, and ends when the pipe is closed.
mkfifo "$scratch/hold"
wine cmd.exe <"$scratch/hold" >/dev/null 2>&1 &
resident_pid=$!
exec 9>"$scratch/hold"

# In the background, the command still gets this standard input and interrupts, as in the foreground.
(trap - INT QUIT; exec "$@") <&0 &
command_pid=$!
wait "$command_pid"
status=$?
command_pid=""
exit $status
