#!/usr/bin/env bash
# Runs the sample-loader fuzz target for a bounded time (default 30 s) from the committed seeds.
# Usage: run-loader-fuzz.sh [build-dir] [seconds]. Build first: cmake --preset fuzz && cmake --build --preset fuzz --target loader_fuzz
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../../build/fuzz}"
seconds="${2:-30}"
binary="$build/vexla/samples/loader_fuzz"
[ -x "$binary" ] || { echo "no fuzz target at $binary (configure with the fuzz preset)" >&2; exit 2; }
corpus="$build/vexla/samples/loader-fuzz-corpus"
artifacts="$build/vexla/samples/loader-fuzz-artifacts/"
mkdir -p "$corpus" "$artifacts"
# Leaks inside third-party decoders are listed there; any leak of ours still fails the run.
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0"
# New inputs go to the build's corpus; the committed seeds are only read.
exec "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "$here/seeds"
