#!/usr/bin/env bash
# Builds everything and runs one benchmark program under Wine, by default the
# capture benchmark. Arguments after the program's name are passed to it.
source "$(dirname "$0")/common.sh"
prepare_runtime all
cd "$BUILD/bin"
program=${1:-capture_bench}
shift || true
wine "$program.exe" "$@"
