#!/usr/bin/env bash
# Batch conversion, one at a time against two at a time: eight copies of the
# demo DSF to 176.4 kHz/24-bit WAV, best of three runs each.
#   bash bench/bench_batch.sh [BUILD_DIR]
set -euo pipefail
BUILD=$(realpath "${1:-build}")
CLI="$BUILD/bin/sonvex-cli"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/in"
for i in 1 2 3 4 5 6 7 8; do cp "$BUILD/bin/demo.dsf" "$WORK/in/demo$i.dsf"; done
for jobs in 1 2; do
  best=
  for _ in 1 2 3; do
    rm -rf "$WORK/out" && mkdir "$WORK/out"
    start=$(date +%s%N)
    "$CLI" convert --quiet --format wav --rate 176400 -j "$jobs" "$WORK"/in/*.dsf "$WORK/out"
    t=$((($(date +%s%N) - start) / 1000000))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  printf -- '-j %d: %d ms for 8 files (48 s of DSD64)\n' "$jobs" "$best"
done
