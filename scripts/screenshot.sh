#!/usr/bin/env bash
# Starts the Windows program without arguments in a virtual X server and saves a PNG of its dialog.
#   scripts/screenshot.sh [OUTPUT.png [Orvane.exe | Orvane64.exe]]
# OUTPUT defaults to docs/dialog.png. Without a program it builds the one this host runs under Wine.
set -eu
cd "$(dirname "$0")/.."
# shellcheck source=scripts/variants.sh
source scripts/variants.sh
output=$(realpath -m "${1:-docs/dialog.png}")
program=${2:-}
if [ -z "$program" ]; then
  bash scripts/install-deps.sh
  preset=$(build_running_under "$(bash scripts/wine-builds.sh --usable | head -n 1)") ||
    preset=${windows_builds[-1]}
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target Orvane >/dev/null
  program=build/$preset/src/app/${build_exe[$preset]}
fi
# The Wine that runs it: 32-bit for Orvane.exe, 64-bit for Orvane64.exe, known by its name.
export ORVANE_WINE_ARCH=${build_wine[${windows_builds[0]}]}
for preset in "${windows_builds[@]}"; do
  [ "${program##*/}" = "${build_exe[$preset]}" ] && ORVANE_WINE_ARCH=${build_wine[$preset]}
done
program=$(realpath "$program")
mkdir -p "$(dirname "$output")"

# Run inside the X server and the Wine prefix: start the dialog, wait until its window is there and
# painted, grab the screen and crop it to the window.
shoot=$(mktemp "${TMPDIR:-/tmp}/orvane-shot.XXXXXX")
trap 'rm -f "$shoot"' EXIT
cat >"$shoot" <<'SHOOT'
set -u
program=$1 output=$2
wine "$program" >/dev/null 2>&1 &
window=""
for _ in $(seq 150); do
  window=$(xdotool search --name '^Orvane - File Byte Swapping Utility' 2>/dev/null | head -1)
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -z "$window" ]; then
  echo "screenshot.sh: the dialog did not appear" >&2
  exit 1
fi
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$output"
SHOOT
xvfb-run -a -s '-screen 0 1024x768x24' scripts/with-wine.sh bash "$shoot" "$program" "$output"
echo "saved $output"
