#!/usr/bin/env bash
# The built program against an independent reference, objcopy's --reverse-bytes, on random files of
# many sizes, for each data size; natively also on streams. Orvane.exe takes 16, 32 and 64 bits; the
# native program any whole number of bytes, here also 48 and 128 bits, and 24, which objcopy refuses
# (it reverses even numbers of bytes only): for that one the reference is this test's own.
#   reference_test.sh PROGRAM...   (the command that runs orvane, e.g. `wine Orvane.exe`)
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
program=("$@")
enter_scratch_folder

native=no
[ "${program[0]##*/}" != wine-run.sh ] && native=yes
widths=(16 32 64)
[ $native = yes ] && widths+=(24 48 128)

# reference IN BITS: IN with each block reversed, into expected.bin.
reference() {
  local bytes=$(($2 / 8))
  if [ $((bytes % 2)) -eq 0 ]; then
    objcopy -I binary -O binary --reverse-bytes="$bytes" "$1" expected.bin
  else
    perl -0777 -pe "s/(.{$bytes})/reverse \$1/gse" "$1" >expected.bin
  fi
}

for size in 8 16 64 120 1000 4096 65528 65536 100000 1048576 1048584; do
  head -c "$size" /dev/urandom >in.bin
  for bits in "${widths[@]}"; do
    bytes=$((bits / 8))
    [ $((size % bytes)) -eq 0 ] || continue
    reference in.bin "$bits"
    rm -f out.bin
    "${program[@]}" -in in.bin -out out.bin -datasize "$bits"
    check "size $size, $bits bits: exit code $?" test $? -eq 0
    check "size $size, $bits bits: output" cmp -s out.bin expected.bin
  done
done

# Natively, streams: a random stream piped from standard input to standard output, more than two
# pieces long and arriving as the pipe delivers it, and the same bytes from a named pipe, to a file
# and to standard output.
if [ $native = yes ]; then
  head -c $((9 * 1024 * 1024 + 48)) /dev/urandom >in.bin
  mkfifo fifo
  for bits in "${widths[@]}"; do
    reference in.bin "$bits"
    cat in.bin | "${program[@]}" -in - -out - -datasize "$bits" >out.bin
    check "pipe, $bits bits: exit code" test "${PIPESTATUS[1]}" -eq 0
    check "pipe, $bits bits: output" cmp -s out.bin expected.bin
    cat in.bin >fifo &
    "${program[@]}" -in fifo -out out.bin -datasize "$bits"
    check "named pipe, $bits bits: exit code" test $? -eq 0
    check "named pipe, $bits bits: output" cmp -s out.bin expected.bin
    cat in.bin >fifo &
    "${program[@]}" -in fifo -out - -datasize "$bits" >out.bin
    check "named pipe to standard output, $bits bits: exit code" test $? -eq 0
    check "named pipe to standard output, $bits bits: output" cmp -s out.bin expected.bin
  done
fi

# In place, against the same reference.
head -c 4176 /dev/urandom >original.bin
for bits in "${widths[@]}"; do
  cp original.bin inplace.bin
  reference inplace.bin "$bits"
  "${program[@]}" -in inplace.bin -out inplace.bin -datasize "$bits"
  check "in place, $bits bits: exit code" test $? -eq 0
  check "in place, $bits bits: output" cmp -s inplace.bin expected.bin
done

# Natively, many files in one command, and a range: files in place and into a folder (the inputs
# untouched), a header kept with -offset, a range with -offset and -length in place, and a stream
# whose header passes through; each across several pieces, the range starting off a piece's
# boundary.
if [ $native = yes ]; then
  # ranged IN BITS OFFSET LENGTH: IN with the LENGTH bytes from OFFSET reversed, into expected.bin.
  ranged() {
    head -c "$3" "$1" >head.part
    tail -c +$(($3 + 1)) "$1" | head -c "$4" >middle.part
    tail -c +$(($3 + $4 + 1)) "$1" >tail.part
    reference middle.part "$2"
    cat head.part expected.bin tail.part >ranged.part && mv ranged.part expected.bin
  }
  head -c 1048620 /dev/urandom >in.bin  # 44 bytes and 1 MiB
  mkdir -p folder
  for bits in 16 32 64; do
    for k in 1 2 3; do head -c $((k * 65536 + 8)) in.bin >"many$k.bin"; done
    cp many1.bin many1.orig && cp many3.bin many3.orig
    for k in 1 2 3; do reference "many$k.bin" "$bits" && mv expected.bin "many$k.expected"; done
    "${program[@]}" -datasize "$bits" -out folder many1.bin many2.bin ./many3.bin
    check "files into a folder, $bits bits: exit code $?" test $? -eq 0
    check "files into a folder, $bits bits: outputs" \
      test "$(cat folder/many*.bin | md5sum)" = "$(cat many*.expected | md5sum)"
    check "files into a folder, $bits bits: inputs untouched" cmp -s many1.bin many1.orig
    "${program[@]}" -datasize "$bits" many1.bin many2.bin many3.bin
    check "files in place, $bits bits: exit code $?" test $? -eq 0
    check "files in place, $bits bits: swapped" \
      test "$(cat many*.bin | md5sum)" = "$(cat many*.expected | md5sum)"

    ranged in.bin "$bits" 44 $((1048620 - 44))
    "${program[@]}" -in in.bin -out out.bin -datasize "$bits" -offset 44
    check "header kept, $bits bits: exit code $?" test $? -eq 0
    check "header kept, $bits bits: output" cmp -s out.bin expected.bin
    cat in.bin | "${program[@]}" -in - -out - -datasize "$bits" -offset 44 >out.bin
    check "stream with a header, $bits bits: exit code" test "${PIPESTATUS[1]}" -eq 0
    check "stream with a header, $bits bits: output" cmp -s out.bin expected.bin
    ranged in.bin "$bits" 300044 $((5000 * bits))
    cp in.bin inplace.bin
    "${program[@]}" -datasize "$bits" -offset 300044 -length $((5000 * bits)) inplace.bin
    check "range in place, $bits bits: exit code $?" test $? -eq 0
    check "range in place, $bits bits: output" cmp -s inplace.bin expected.bin
  done

  # The pipes it is given are widened to 1 MiB, so that a stream moves in a few calls (bench/run.sh
  # times it); a pipe keeps its size after the program ends, and is asked it here.
  sizes=$(python3 - "${program[@]}" -in - -out - -datasize 16 <<'EOF_PY'
import fcntl, os, subprocess, sys
source, feed = os.pipe()
sink, drain = os.pipe()
os.write(feed, bytes(4096))
os.close(feed)
subprocess.run(sys.argv[1:], stdin=source, stdout=drain, check=True)
print(fcntl.fcntl(source, fcntl.F_GETPIPE_SZ), fcntl.fcntl(sink, fcntl.F_GETPIPE_SZ))
EOF_PY
)
  check "pipes in and out: widened to 1 MiB ($sizes)" test "$sizes" = "1048576 1048576"

  # Progress: a stream of 3 MiB fed over 3 seconds, standard error a terminal, then a file. On the
  # terminal a line is drawn, redrawn in place and erased at the end; a file gets no byte of it.
  slow_stream() {  # slow_stream STDERR: the terminal's bytes, or nothing with a file as STDERR
    python3 - "$1" "${program[@]}" -in - -out slow.bin -datasize 32 <<'EOF_PY'
import os, pty, subprocess, sys, time
master, slave = pty.openpty()
target = slave if sys.argv[1] == "terminal" else open(sys.argv[1], "wb")
swap = subprocess.Popen(sys.argv[2:], stdin=subprocess.PIPE, stderr=target)
os.close(slave)
for _ in range(12):
    swap.stdin.write(bytes(range(256)) * 1024)
    swap.stdin.flush()
    time.sleep(0.25)
swap.stdin.close()
swap.wait()
seen = b""
while sys.argv[1] == "terminal":
    try:
        chunk = os.read(master, 4096)
    except OSError:
        break
    if not chunk:
        break
    seen += chunk
sys.stdout.buffer.write(seen)
EOF_PY
  }
  seen=$(slow_stream terminal | od -An -c | tr -s ' \n' ' ')
  check "progress on a terminal: drawn, with a rate, then erased [$seen]" \
    grep -qE '^ \\r .* / s 033 \[ K \\r 033 \[ K $' <<<"$seen"
  slow_stream stderr.txt
  check "progress: no byte of it on a file" test ! -s stderr.txt
fi

report
