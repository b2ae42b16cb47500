#!/usr/bin/env bash
# Times the whole-file swap against the floor of merely copying the file and against the tools a
# user would otherwise reach for, then runs the in-memory micro-benchmark. Prints Markdown tables.
#   bench/run.sh [SIZE_MIB...]        (default: 1 64 256)
# Environment: RUNS (runs of each command per case; default 11), BENCH_DIR (where the inputs go;
# default a fresh folder under TMPDIR, on the disk under test, removed at the end), WIDTHS (the data
# sizes in bits, one row each; default 16 24 32 48 64 128: Orvane.exe's three, then a 3-byte, a
# 6-byte and a 16-byte block, which the native program alone takes), PRESSURE_MIB (unset or 0:
# none; otherwise that many MiB of zeros written to pressure.bin beside the inputs, untimed, right
# before each command: a machine still writing back what it just wrote, as after a large copy;
# pressure.bin is removed at the end); BENCH_MANY, BENCH_SMALL and SMALL_RUNS: the tables of many
# files and of a small file, below.
#
# Each case runs every command once per round, in an order shuffled for each round, so that a
# disturbance spreads over all commands alike; each figure is the median of the rounds, the file
# cache warm (one round unrecorded first). Each command writes an output of its own (out.bin in the
# commands below stands for out-COLUMN.bin), which exists from its round before, as when a user swaps
# or copies a file again over what the last run made; or, for the columns marked "new", which is
# removed, untimed, right before each run, as when a user swaps or copies to a new name. Columns:
#   cat           cat in > out: the native floor, the output existing
#   orvane        the native program, the output existing    (x cat)
#   cat new       cat in > out, new: the floor for a new output
#   new           the native program, new                    (x cat new)
#   dd new        dd bs=256K, new: a copy in the swap's own pieces (x cat new, and new / dd new)
#   objcopy       objcopy -I binary -O binary --reverse-bytes (x cat, and orvane / objcopy); even
#                 numbers of bytes only
#   dd            dd conv=swab bs=4M, 16 bits only            (x cat)
#   cat pipe      cat in | cat > out, new: the floor for a stream
#   pipe          cat in | orvane -in - -out - > out, new: streamed  (x cat pipe)
#   dd pipe       cat in | dd conv=swab bs=1M > out, new, 16 bits only (x cat pipe)
#   floor (Wine)  one ReadFile and one WriteFile of the whole file, built as Orvane.exe, under Wine
#   Orvane.exe    the Windows build under Wine                (x the Wine floor); 16, 32, 64 bits
#   start-up      Orvane.exe under Wine on a missing input: loading the program and the system DLLs
#                 of its dialog front end, which the bare floor does not load
#   in place      orvane -in in.bin -out in.bin under eatmydata, which makes fsync do nothing: the
#                 swap in place leaving aside its flush to disk   (x cat)
#   flush         orvane in place as it runs, less the same under eatmydata: the flush's own cost
#   dd fsync      dd conv=fsync bs=4M: a copy with the same flush, less cat: its flush's cost
#   copy, sync, mv  cat in.bin > copy, sync copy, mv copy in.bin: an unswapped swap in place with
#                 its flush; "in place, flushed" is given as a ratio to it
# BENCH_LAYOUTS and LAYOUT_MIB: the table of layouts of mixed fields, below.
# BENCH_COLUMNS (a space-separated subset of: cat orvane catnew new ddnew objcopy dd catpipe pipe
# ddpipe inplace flushed ddsync catsync wfloor wine wstart) times only those, without the
# micro-benchmark; the Windows build is made only when a Wine column is among them.
# The programs are built through the CMake presets: linux, and the Windows build this host runs
# (scripts/variants.sh), into build/PRESET.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/variants.sh
source "$root/scripts/variants.sh"
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1 64 256)
runs=${RUNS:-11}
pressure=${PRESSURE_MIB:-0}
[[ $pressure =~ ^[0-9]+$ ]] || { echo "PRESSURE_MIB is a number of MiB, not '$pressure'" >&2; exit 2; }
read -r -a columns <<<"${BENCH_COLUMNS:-cat orvane catnew new ddnew objcopy dd catpipe pipe ddpipe inplace flushed ddsync catsync wfloor wine wstart}"
read -r -a widths <<<"${WIDTHS:-16 24 32 48 64 128}"
small=${BENCH_SMALL:-$([ -z "${BENCH_COLUMNS:-}" ] && [ "${BENCH_LAYOUTS:-}" != only ] && echo yes || echo no)}
wine_columns=no
[[ " ${columns[*]} " =~ \ w ]] && [ "$small" != only ] && wine_columns=yes

if [ -z "${ORVANE_BENCH_INSIDE:-}" ]; then
  cd "$root"
  bash scripts/install-deps.sh
  echo "Building..." >&2
  cmake --preset linux >/dev/null
  cmake --build --preset linux -j "$(nproc)" --target orvane swap_benchmark >/dev/null
  if [ $wine_columns = no ]; then
    ORVANE_BENCH_INSIDE=1 exec bash "$0" "$@"
  fi
  # The Windows build this host runs: Orvane.exe, or Orvane64.exe where 32-bit code cannot run.
  export ORVANE_WINE_ARCH=${ORVANE_WINE_ARCH:-$(bash scripts/wine-builds.sh --usable | head -n 1)}
  preset=$(build_running_under "$ORVANE_WINE_ARCH") || preset=${windows_builds[-1]}
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" --target Orvane copy_floor_win32 >/dev/null
  # Inside a private Wine prefix with a resident process, so that no run pays for starting Wine.
  ORVANE_BENCH_INSIDE=1 exec xvfb-run -a -s '-screen 0 1024x768x24' \
    scripts/with-wine.sh bash "$0" "$@"
fi

native=$root/build/linux/src/app/orvane
micro=$root/build/linux/bench/swap_benchmark
wine_arch=${ORVANE_WINE_ARCH:-none}
preset=$(build_running_under "$wine_arch") || preset=${windows_builds[-1]}
exe=$root/build/$preset/src/app/${build_exe[$preset]}
floor=$root/build/$preset/bench/copy_floor_win32.exe

work=${BENCH_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/orvane-bench.XXXXXX")}
mkdir -p "$work"
trap 'rm -f "$work"/in.bin "$work"/out*.bin "$work"/copy.bin "$work"/pressure.bin "$work"/small* "$work"/layouts.json; [ -n "${BENCH_DIR:-}" ] || rmdir "$work"' EXIT
cd "$work"

now() { date +%s%N; }
# Seconds, three decimals, of a nanosecond count.
seconds() { printf '%d.%03d' $(($1 / 1000000000)) $(($1 / 1000000 % 1000)); }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# The command of each column for the current case; "" where the column does not apply.
command_of() {
  local windows=no
  case $bits in 16 | 32 | 64) windows=yes ;; esac
  case $1 in
    cat) echo "cat in.bin >out.bin" ;;
    orvane | new) echo "$native -in in.bin -out out.bin -datasize $bits" ;;
    catnew) echo "cat in.bin >out.bin" ;;
    ddnew) echo "dd if=in.bin of=out.bin bs=256K status=none" ;;
    catpipe) echo "cat in.bin | cat >out.bin" ;;
    objcopy)
      if [ $((bits % 16)) -eq 0 ]; then
        echo "objcopy -I binary -O binary --reverse-bytes=$((bits / 8)) in.bin out.bin"
      fi ;;
    dd) if [ "$bits" -eq 16 ]; then echo "dd if=in.bin of=out.bin conv=swab bs=4M status=none"; fi ;;
    pipe) echo "cat in.bin | $native -in - -out - -datasize $bits >out.bin" ;;
    ddpipe)
      if [ "$bits" -eq 16 ]; then echo "cat in.bin | dd conv=swab bs=1M status=none >out.bin"; fi ;;
    inplace) echo "eatmydata $native -in in.bin -out in.bin -datasize $bits" ;;
    flushed) echo "$native -in in.bin -out in.bin -datasize $bits" ;;
    ddsync) echo "dd if=in.bin of=out.bin bs=4M conv=fsync status=none" ;;
    catsync) echo "cat in.bin >copy.bin && sync copy.bin && mv copy.bin in.bin" ;;
    wfloor) if [ $windows = yes ]; then echo "wine $floor in.bin out.bin"; fi ;;
    wine) if [ $windows = yes ]; then echo "wine $exe -in in.bin -out out.bin -datasize $bits"; fi ;;
    wstart)
      if [ $windows = yes ]; then echo "wine $exe -in missing.bin -out none.bin -datasize $bits || true"; fi ;;
  esac
}

# The columns whose output is removed before each run.
is_new() { case $1 in catnew | new | ddnew | catpipe | pipe | ddpipe) return 0 ;; esac; return 1; }

# The inputs hold a whole number of blocks of every width (3 bytes divide no power of two): their
# size is rounded down to a multiple of every block length.
gcd() { if [ "$2" -eq 0 ]; then echo "$1"; else gcd "$2" $(($1 % $2)); fi; }
whole=1
for bits in "${widths[@]}"; do whole=$((whole * (bits / 8) / $(gcd $whole $((bits / 8))))); done

# ---- Many files in one command ------------------------------------------------------------------
# BENCH_MANY: "yes" (the default when BENCH_COLUMNS is unset, and BENCH_SMALL not "only") prints
# this table first, "only" prints it alone, "no" skips it. Rows, each command once per round in
# alternation, medians as above:
#   1,000 files of 4 KiB in place: `orvane -datasize 32 FILE...` against a shell loop starting
#   `orvane -in F -out F` per file; 16 files of 64 MiB into a folder: `orvane -out FOLDER FILE...`
#   against a loop of `cat F >FOLDER/F`.
many=${BENCH_MANY:-$([ -z "${BENCH_COLUMNS:-}" ] && [ "$small" != only ] && echo yes || echo no)}
if [ "$many" != no ]; then
  rm -rf many && mkdir -p many/small many/large many/out
  head -c $((1000 * 4096)) /dev/urandom | split -b 4096 -a 4 - many/small/f
  for k in $(seq 16); do head -c $((64 << 20)) /dev/urandom >"many/large/$k.bin"; done
  many_row() {  # many_row NAME ONE-COMMAND OTHER-NAME OTHER-COMMAND
    local one="" other="" start
    for round in $(seq 0 "$runs"); do
      start=$(now) && bash -c "$2" >/dev/null 2>&1 || { echo "failed: $2" >&2; exit 1; }
      [ "$round" -eq 0 ] || one+="$(($(now) - start)) "
      start=$(now) && bash -c "$4" >/dev/null 2>&1 || { echo "failed: $4" >&2; exit 1; }
      [ "$round" -eq 0 ] || other+="$(($(now) - start)) "
    done
    one=$(echo "$one" | tr ' ' '\n' | grep . | median)
    other=$(echo "$other" | tr ' ' '\n' | grep . | median)
    echo "| $1 | $(seconds "$one") | $3 | $(seconds "$other") | $(ratio "$one" "$other") |"
  }
  echo "Many files (bench/run.sh, RUNS=$runs), medians in seconds, warm file cache"
  echo
  echo "| case | orvane, one command | against | that | orvane / that |"
  echo "|---|---|---|---|---|"
  many_row "1,000 files of 4 KiB, in place, 32 bits" "$native -datasize 32 many/small/*" \
    "a shell loop, orvane per file" \
    "for f in many/small/*; do $native -in \$f -out \$f -datasize 32 || exit; done"
  many_row "16 files of 64 MiB into a folder, 32 bits" "$native -datasize 32 -out many/out many/large/*" \
    "cat of each into the folder" "for f in many/large/*; do cat \$f >many/out/\${f##*/}; done"
  rm -rf many
  echo
  [ "$many" != only ] || exit 0
fi
# ---- end of many files ---------------------------------------------------------------------------

# ---- A small file, one process ------------------------------------------------------------------
# BENCH_SMALL: "yes" (the default when BENCH_COLUMNS is unset) prints this table, "only" prints it
# alone, "no" skips it. A 4 KiB file swapped at 16 bits into a new one by a process of its own, as
# `find -exec` or a shell loop starts one per file, against `cp` of it: hyperfine, SMALL_RUNS runs
# (default 200) after 5 warm-up runs, the output removed before each (--prepare), no shell between
# (-N); medians in milliseconds. Most of it is the program's start.
if [ "$small" != no ]; then
  small_runs=${SMALL_RUNS:-200}
  head -c 4096 /dev/urandom >small.bin
  hyperfine -N -w 5 -r "$small_runs" --prepare "rm -f small-out.bin" --export-json small.json \
    "cp small.bin small-out.bin" "$native -in small.bin -out small-out.bin -datasize 16" >/dev/null
  read -r cp_ms swap_ms < <(/usr/bin/python3 -c 'import json, sys
print(*(round(r["median"] * 1000, 2) for r in json.load(open(sys.argv[1]))["results"]))' small.json)
  echo "A small file, one process (SMALL_RUNS=$small_runs BENCH_SMALL=only bench/run.sh), hyperfine medians in ms, warm file cache"
  echo
  echo "| case | cp | orvane (x cp) |"
  echo "|---|---|---|"
  echo "| 4 KiB into a new file, 16 bits | $cp_ms | $swap_ms ($(ratio "$swap_ms" "$cp_ms")) |"
  echo
  rm -f small.bin small-out.bin small.json
  [ "$small" != only ] || exit 0
fi

# ---- Layouts of mixed fields ---------------------------------------------------------------------
# BENCH_LAYOUTS: "yes" (the default when BENCH_COLUMNS is unset) prints this table, "only" prints it
# alone, "no" skips it. LAYOUT_MIB (default 256) MiB of random records, rounded down to whole
# 240-byte records; each command timed by hyperfine, once per round, RUNS rounds after one that
# warms the cache; medians, each ratio taken within the one run; what else the machine runs
# meanwhile moves them.
# Rows, each with the figure it is held to:
#   -layout '4si2f:*'      16-byte records of a text, an integer and two floats   x cat <= 1.0
#   240-byte record        -layout '7i4h8i2h4i46h5i2h8s2d3f:*', mixed widths      x cat <= 1.2
#   -layout 'i:*'          against -datasize 32, which it is                     within 10 %
#   numpy, both records    bench/numpy_layout.py: fromfile, astype, tofile        orvane / numpy <= 0.2
layouts=${BENCH_LAYOUTS:-$([ -z "${BENCH_COLUMNS:-}" ] && echo yes || echo no)}
if [ "$layouts" != no ]; then
  layout_mib=${LAYOUT_MIB:-256}
  head -c $((layout_mib * 1024 * 1024 / 240 * 240)) /dev/urandom >in.bin
  small_record='4si2f'
  large_record='7i4h8i2h4i46h5i2h8s2d3f'
  numpy_run="/usr/bin/python3 $root/bench/numpy_layout.py"
  names=(cat small large datasize32 whole32 numpy-small numpy-large)
  commands=("cat in.bin >out-cat.bin"
    "$native -in in.bin -out out-small.bin -layout '$small_record:*'"
    "$native -in in.bin -out out-large.bin -layout '$large_record:*'"
    "$native -in in.bin -out out-datasize32.bin -datasize 32"
    "$native -in in.bin -out out-whole32.bin -layout 'i:*'"
    "$numpy_run $small_record in.bin out-numpy-small.bin"
    "$numpy_run $large_record in.bin out-numpy-large.bin")
  # One hyperfine run of every command per round, in an order shuffled for each round, so that a
  # disturbance spreads over all commands alike; round 0 warms the cache and is not recorded.
  declare -A times=()
  for round in $(seq 0 "$runs"); do
    order=$(shuf -i 0-$((${#names[@]} - 1)))
    picked=()
    for k in $order; do picked+=("${commands[k]}"); done
    hyperfine --style none --runs 1 --export-json layouts.json "${picked[@]}" >/dev/null 2>&1 ||
      { echo "failed: a command of the layouts' table" >&2; exit 1; }
    [ "$round" -eq 0 ] && continue
    k=0
    while read -r value; do
      index=$(echo "$order" | sed -n "$((k + 1))p")
      times[${names[index]}]+="$value "
      k=$((k + 1))
    done < <(/usr/bin/python3 -c 'import json, sys
for result in json.load(open(sys.argv[1]))["results"]: print(result["median"])' layouts.json)
  done
  cmp -s out-small.bin out-numpy-small.bin && cmp -s out-large.bin out-numpy-large.bin ||
    { echo "orvane and numpy wrote different bytes" >&2; exit 1; }
  declare -A median=()
  for name in "${names[@]}"; do
    median[$name]=$(echo "${times[$name]}" | tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
  done
  fraction() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
  echo "Layouts (retake: BENCH_MANY=no BENCH_LAYOUTS=only RUNS=$runs LAYOUT_MIB=$layout_mib bench/run.sh), $layout_mib MiB, hyperfine medians in seconds, warm file cache"
  echo
  echo "| case | orvane | against | that | orvane / that | held to |"
  echo "|---|---|---|---|---|---|"
  row() {  # row CASE NAME AGAINST-CASE AGAINST-NAME GOAL
    printf '| %s | %.3f | %s | %.3f | %s | %s |\n' "$1" "${median[$2]}" "$3" "${median[$4]}" \
      "$(fraction "${median[$2]}" "${median[$4]}")" "$5"
  }
  row "-layout '$small_record:*'" small cat cat "<= 1.0"
  row "-layout '$large_record:*' (240 bytes)" large cat cat "<= 1.2"
  row "-layout 'i:*'" whole32 "-datasize 32" datasize32 "0.90 to 1.10"
  row "-layout '$small_record:*'" small "numpy" numpy-small "<= 0.2"
  row "-layout '$large_record:*' (240 bytes)" large "numpy" numpy-large "<= 0.2"
  rm -f in.bin out-*.bin layouts.json
  echo
  [ "$layouts" != only ] || exit 0
fi
# ---- end of layouts ------------------------------------------------------------------------------

echo "Machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
# The command that retakes this table.
retake="RUNS=$runs"
[ -z "${BENCH_COLUMNS:-}" ] || retake+=" BENCH_COLUMNS=\"${columns[*]}\""
[ -z "${WIDTHS:-}" ] || retake+=" WIDTHS=\"${widths[*]}\""
[ "$pressure" -eq 0 ] || retake+=" PRESSURE_MIB=$pressure"
echo "Command: $retake bench/run.sh ${sizes[*]}; medians in seconds, warm file cache"
[ $wine_columns = no ] || echo "Windows build under Wine: ${exe##*/} ($wine_arch)"
[ "$pressure" -eq 0 ] || echo "Write pressure: $pressure MiB written to another file right before each command"
echo
echo "| size | bits | cat | orvane (x cat) | cat, new output | orvane, new output (x cat) | dd bs=256K, new output (x cat) | orvane / dd, new output | objcopy (x cat) | orvane / objcopy | dd conv=swab (x cat) | cat \| cat | pipe (x cat \| cat) | dd pipe (x cat \| cat) | in place, no flush (x cat) | flush | in place, flushed (x copy, sync, mv) | dd conv=fsync (its flush) | floor, Wine | Orvane.exe, Wine (x floor) | start-up, Wine |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for mib in "${sizes[@]}"; do
  head -c $((mib * 1024 * 1024 / whole * whole)) /dev/urandom >in.bin
  for bits in "${widths[@]}"; do
    declare -A samples=()
    for round in $(seq 0 "$runs"); do
      for column in $(printf '%s\n' "${columns[@]}" | shuf); do
        cmd=$(command_of "$column")
        [ -n "$cmd" ] || continue
        cmd=${cmd//out.bin/out-$column.bin}
        ! is_new "$column" || rm -f "out-$column.bin"
        [ "$pressure" -eq 0 ] || dd if=/dev/zero of=pressure.bin bs=1M count="$pressure" status=none
        start=$(now)
        bash -o pipefail -c "$cmd" >/dev/null 2>&1 || { echo "failed: $cmd" >&2; exit 1; }
        elapsed=$(($(now) - start))
        # Round 0 warms the cache and is not recorded.
        [ "$round" -eq 0 ] || samples[$column]+="$elapsed "
      done
    done
    declare -A m=()
    for column in "${columns[@]}"; do
      [ -n "${samples[$column]:-}" ] && m[$column]=$(echo "${samples[$column]}" | tr ' ' '\n' | grep . | median)
    done
    # A cell: the median of a column, or "-" where it was not timed; with the ratio to another
    # column's median, or less another column's median.
    cell() {  # cell COLUMN [ratio|less OTHER]
      local value=${m[$1]:-} other=${m[${3:-none}]:-}
      if [ -z "$value" ] || { [ $# -gt 1 ] && [ -z "$other" ]; }; then
        echo "-"
      elif [ $# -eq 1 ]; then
        seconds "$value"
      elif [ "$2" = ratio ]; then
        echo "$(seconds "$value") ($(ratio "$value" "$other"))"
      else
        seconds $((value > other ? value - other : 0))
      fi
    }
    versus=-
    [ -n "${m[orvane]:-}" ] && [ -n "${m[objcopy]:-}" ] && versus=$(ratio "${m[orvane]}" "${m[objcopy]}")
    versusdd=-
    [ -n "${m[new]:-}" ] && [ -n "${m[ddnew]:-}" ] && versusdd=$(ratio "${m[new]}" "${m[ddnew]}")
    ddsync="$(cell ddsync) ($(cell ddsync less cat))"
    [ -n "${m[ddsync]:-}" ] || ddsync=-
    echo "| $mib MiB | $bits | $(cell cat) | $(cell orvane ratio cat) | $(cell catnew) | $(cell new ratio catnew) | $(cell ddnew ratio catnew) | $versusdd | $(cell objcopy ratio cat) | $versus | $(cell dd ratio cat) | $(cell catpipe) | $(cell pipe ratio catpipe) | $(cell ddpipe ratio catpipe) | $(cell inplace ratio cat) | $(cell flushed less inplace) | $(cell flushed ratio catsync) | $ddsync | $(cell wfloor) | $(cell wine ratio wfloor) | $(cell wstart) |"
    unset samples m
  done
done
rm -f in.bin out*.bin copy.bin pressure.bin

if [ -x "$micro" ] && [ -z "${BENCH_COLUMNS:-}" ]; then
  echo
  echo "In-memory swap (Google Benchmark; bytes per second of the buffer swapped or copied):"
  "$micro" --benchmark_min_time=0.5 2>/dev/null | grep -E '^(BM_|Benchmark|-)'
fi
