# shellcheck shell=bash disable=SC2034 # the arrays are for the scripts that source this file
# The Windows builds, one row each, for the scripts that build, run, time or package them: sourced,
# not run. The 32-bit one comes first: where the host runs both under Wine, it is the one picked.
#   preset   the CMake preset (CMakePresets.json, which also names its toolchain), built into
#            build/PRESET
#   exe      the executable it makes (named in CMakeLists.txt)
#   wine     the Wine it runs under: the value of ORVANE_WINE_ARCH, and Wine's WINEARCH
#   loader   that Wine's loader, from Debian's wine32 or wine64
# They become windows_builds (the presets in this order), windows_exes (the executables in this
# order), and build_exe, build_wine and build_loader, each by preset.
windows_builds=()
windows_exes=()
declare -gA build_exe=() build_wine=() build_loader=()
read_builds() {
  local preset exe wine loader
  while read -r preset exe wine loader; do
    windows_builds+=("$preset")
    windows_exes+=("$exe")
    build_exe[$preset]=$exe
    build_wine[$preset]=$wine
    build_loader[$preset]=$loader
  done
}
read_builds <<'BUILDS'
windows     Orvane.exe    win32  /usr/lib/wine/wine
windows64   Orvane64.exe  win64  /usr/lib/wine/wine64
BUILDS
unset -f read_builds

# build_running_under WINE: the preset of the build that runs under WINE; fails, saying nothing,
# for any other.
build_running_under() {
  local preset
  for preset in "${windows_builds[@]}"; do
    if [ "${build_wine[$preset]}" = "$1" ]; then
      echo "$preset"
      return 0
    fi
  done
  return 1
}
