#!/usr/bin/env bash
# Runs a Windows test program in a Wine session of its own that file permissions bind. Wine's server
# opens the files, and under root it would override a read-only file; so root runs the session with
# its permission overrides dropped. Other users run the program in the current session.
#   unprivileged.sh REPO PROGRAM.exe
repo=$1
shift
drop=(setpriv --bounding-set=-dac_override,-dac_read_search,-fowner)
if [ "$(id -u)" -eq 0 ] && "${drop[@]}" true 2>/dev/null; then
  exec "${drop[@]}" bash "$repo/scripts/with-wine.sh" bash "$repo/cmake/wine-run.sh" "$@"
fi
exec bash "$repo/cmake/wine-run.sh" "$@"
