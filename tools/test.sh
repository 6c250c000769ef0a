#!/usr/bin/env bash
# Runs every test headless from the default build.
set -euo pipefail
export QT_QPA_PLATFORM=offscreen
ctest --preset default
