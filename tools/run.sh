#!/usr/bin/env bash
# Starts a program from the default build. On a machine without a display it says so and renders a
# 30-second demo loop to a WAV file instead, printing the file's path, so that "make run" does
# something real anywhere.
set -euo pipefail
program=${1:-vexla}
binary="${VZ_BUILD_DIR:-build/default}/$program/ui/$program"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  out="${TMPDIR:-/tmp}/$program-demo.wav"
  echo "No display found: rendering a 30-second demo with '$program --render' instead of opening the window."
  "$binary" --render "$out" --seconds 30 >&2
  echo "$out"
  exit 0
fi
exec "$binary"
