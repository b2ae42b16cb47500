#!/usr/bin/env bash
# Runs a Windows test program under Wine for CTest. Wine may start long-lived helpers (the desktop
# process, services) from inside a test; they inherit its output, and CTest would wait on them until
# the time limit. So the output goes to a file, and is shown once the program has ended.
log=$(mktemp "${TMPDIR:-/tmp}/orvane-test.XXXXXX")
trap 'rm -f "$log"' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
wine "$@" >"$log" 2>&1
status=$?
grep -v -E ':(err|fixme):' "$log"
exit $status
