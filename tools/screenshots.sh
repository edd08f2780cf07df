#!/usr/bin/env bash
# Regenerates the README's and the manuals' screenshots of the main window
# (without a file and with the demo file open) and of the export, combine, EQ
# and oscillator dialogs and an export error (lumara_shots), at scale 1 and 2
# and in Japanese, and of a FLAC file open and the export dialog with FLAC
# chosen at scale 1 and 2, under a virtual display.
#   bash tools/screenshots.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$(realpath "${1:-${BUILD_DIR:-build}}")
OUT=$(pwd)/docs

if [ "${LUMARA_SHOTS_INNER:-}" != 1 ]; then
  cmake --build "$BUILD" --target LumaraEditor lumara_shots sonvex sonvex-cli
  mkdir -p "$OUT"
  # A random first display number keeps clear of other virtual displays.
  LUMARA_SHOTS_INNER=1 exec xvfb-run -a -n $((200 + RANDOM % 500)) -s "-screen 0 1700x1300x24 -noreset" \
    bash "$0" "$BUILD"
fi

# A private home whose settings skip the start-up notice.
HOME_DIR=$(mktemp -d)
trap 'rm -rf "$HOME_DIR"' EXIT
export HOME="$HOME_DIR" XDG_DATA_HOME="$HOME_DIR/data" XDG_RUNTIME_DIR="$HOME_DIR/run"
export LIBGL_ALWAYS_SOFTWARE=1
mkdir -p "$XDG_DATA_HOME/MALVEC/LumaraEditor" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '//NeverShowFirstInfo\ntrue\n' >"$XDG_DATA_HOME/MALVEC/LumaraEditor/lumaraEditor.txt"

# Waits (at most 60 s) until the main window is mapped, when xwininfo exists.
wait_for_window() {
  command -v xwininfo >/dev/null || { sleep 10; return; }
  for _ in $(seq 120); do
    xwininfo -name "MALVEC Lumara Editor" 2>/dev/null | grep -q IsViewable && return
    sleep 0.5
  done
}

shot() {  # shot NAME SETTLE_SECONDS SCALE [FILE]
  local name=$1 wait=$2 scale=$3
  shift 3
  QT_SCALE_FACTOR=$scale "$BUILD/bin/LumaraEditor" "$@" &
  local pid=$!
  wait_for_window
  sleep "$wait"
  import -window root -crop $((800 * scale))x$((624 * scale))+0+0 +repage "$OUT/$name.png"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

shot main-window-empty 2 1
if [ -f "$BUILD/bin/demo.dsf" ]; then
  shot main-window-demo 30 1 "$BUILD/bin/demo.dsf"
  # A scaled screen: the whole window, view included, at twice the size.
  shot main-window-scale2 30 2 "$BUILD/bin/demo.dsf"
  # The demo as FLAC, written by the library itself.
  FLAC_DEMO="$HOME_DIR/demo.flac"
  "$BUILD/bin/sonvex-cli" convert --rate 96000 --bits 24 "$BUILD/bin/demo.dsf" "$FLAC_DEMO" >/dev/null
  for scale in 1 2; do
    QT_SCALE_FACTOR=$scale "$BUILD/bin/lumara_shots" "$OUT" "scale$scale" "$BUILD/bin/demo.dsf" \
      "$FLAC_DEMO" >/dev/null
  done
  # As a Japanese system shows them (the manuals use these and the scale-1 set).
  LANG=ja_JP.UTF-8 LC_ALL= LANGUAGE= "$BUILD/bin/lumara_shots" "$OUT" ja "$BUILD/bin/demo.dsf" >/dev/null
fi
echo "screenshots written to $OUT"
