#!/usr/bin/env bash
# Starts a program from the default build.
set -euo pipefail
program=$1
exec "build/default/$program/ui/$program"
