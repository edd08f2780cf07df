#!/usr/bin/env bash
# Batch conversion of a mixed folder to FLAC, one at a time against two at a
# time: the demo DSF, DSDIFF and WAV copies of it (176.4 kHz/24-bit and
# 44.1 kHz/16-bit), six of each, to 88.2 kHz/24-bit FLAC, best of three
# runs each. One unreadable file rides along: it must be reported and
# skipped while the others finish. Every output is checked with `flac -t`.
#   bash bench/bench_batch_flac.sh [BUILD_DIR]
set -euo pipefail
BUILD=$(realpath "${1:-build}")
CLI="$BUILD/bin/sonvex-cli"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/in"
DEMO="$BUILD/bin/demo.dsf"
"$CLI" convert --quiet --rate dsd64 "$DEMO" "$WORK/demo.dff"
"$CLI" convert --quiet --rate 176400 --bits 24 "$DEMO" "$WORK/hi.wav"
"$CLI" convert --quiet --rate 44100 --bits 16 "$DEMO" "$WORK/cd.wav"
for i in 1 2 3 4 5 6; do
  cp "$DEMO" "$WORK/in/dsf$i.dsf"
  cp "$WORK/demo.dff" "$WORK/in/dff$i.dff"
  cp "$WORK/hi.wav" "$WORK/in/hi$i.wav"
  cp "$WORK/cd.wav" "$WORK/in/cd$i.wav"
done
head -c 4096 /dev/urandom > "$WORK/in/unreadable.wav"
files=$(ls "$WORK/in" | wc -l)
for jobs in 1 2; do
  best=
  for _ in 1 2 3; do
    rm -rf "$WORK/out" && mkdir "$WORK/out"
    start=$(date +%s%N)
    # Exit status 1: the unreadable file (reported on standard error).
    "$CLI" convert --quiet --format flac --rate 88200 --bits 24 -j "$jobs" "$WORK"/in/* \
      "$WORK/out" 2> "$WORK/errors" || true
    t=$((($(date +%s%N) - start) / 1000000))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  done_files=$(ls "$WORK/out" | wc -l)
  grep -q unreadable.wav "$WORK/errors" || { echo "unreadable file not reported"; exit 1; }
  [ "$done_files" -eq $((files - 1)) ] || { echo "$done_files of $((files - 1)) written"; exit 1; }
  flac -t -s "$WORK"/out/*.flac
  printf -- '-j %d: %d ms for %d files to FLAC (all pass flac -t; 1 unreadable skipped)\n' \
    "$jobs" "$best" "$((files - 1))"
done
