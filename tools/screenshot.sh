#!/usr/bin/env bash
# Photographs a program's real window under a virtual X display:  tools/screenshot.sh vexla docs/vexla-window.png
# The program sees VZ_SCREENSHOT, closes its start dialog itself, saves its main window there and quits.
# With --playing it presses Run/Play first and photographs the window a few seconds into the music.
set -euo pipefail
playing=
if [ "${1:-}" = --playing ]; then
  playing=1
  shift
fi
if [ $# -ne 2 ]; then
  echo "usage: $0 [--playing] PROGRAM OUT.png" >&2
  exit 2
fi
program=$1
out=$(realpath -m "$2")
build=${VZ_BUILD_DIR:-build/default}
binary="$build/$program/ui/$program"
if [ ! -x "$binary" ]; then
  echo "$binary is not built (make build, or set VZ_BUILD_DIR)" >&2
  exit 1
fi
mkdir -p "$(dirname "$out")"
rm -f "$out"
# A fixed 96 dpi screen, so that the picture does not depend on the machine that renews it.
VZ_SCREENSHOT="$out" VZ_SCREENSHOT_PLAYING=$playing QT_QPA_PLATFORM=xcb timeout 120 \
  xvfb-run -a -s "-screen 0 1600x1200x24 -dpi 96" "$binary"
[ -s "$out" ] || { echo "no picture was written to $out" >&2; exit 1; }
echo "$out"
