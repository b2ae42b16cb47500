#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded time from the seed corpus in tests/fuzz/corpus.
# Exits non-zero when a target finds anything (a crash, a leak, a broken property); the input that
# found it is left in build/fuzz/findings/.
#   scripts/fuzz.sh [SECONDS-PER-TARGET]   (default 60)
set -u
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build/fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_SANITIZE=ON \
  -DORVANE_FUZZ=ON -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null || exit 1
cmake --build "$build" -j "$(nproc)" --target command_line_fuzzer swap_fuzzer layout_fuzzer || exit 1

mkdir -p "$build/findings"
failed=0
for target in command_line_fuzzer swap_fuzzer layout_fuzzer; do
  # New inputs go to a scratch corpus; the seeds in the repository are only read.
  scratch=$(mktemp -d)
  dictionary=()
  [ -f "tests/fuzz/${target%_fuzzer}.dict" ] && dictionary=("-dict=tests/fuzz/${target%_fuzzer}.dict")
  echo "== $target for $seconds s"
  if ! "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/findings/$target-" "${dictionary[@]}" \
      "$scratch" "tests/fuzz/corpus/$target" 2>"$build/$target.log"; then
    failed=1
    tail -n 60 "$build/$target.log"
    echo "FAILED: $target found a fault; the input is in $build/findings/"
  else
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$build/$target.log"
  fi
  rm -rf "$scratch"
done
exit $failed
