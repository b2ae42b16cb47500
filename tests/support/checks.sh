# Counting checks for the shell tests, sourced by each. A check runs a condition and counts it;
# `report` prints the closing line CTest's readers know, and fails when any check failed.
# `enter_scratch_folder` moves into a fresh folder, removed with its contents when the test ends.
passed=0
failed=0
skipped=0

check() {  # check NAME CONDITION...
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}

skip() {  # skip WHY
  skipped=$((skipped + 1))
  echo "SKIPPED: $*"
}

report() {
  if [ $skipped -gt 0 ]; then
    echo "$passed passed, $failed failed, $skipped skipped"
  else
    echo "$passed passed, $failed failed"
  fi
  [ $failed -eq 0 ]
}

enter_scratch_folder() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cd "$work" || exit 1
}
