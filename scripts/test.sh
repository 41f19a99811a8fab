#!/usr/bin/env bash
# Builds everything and runs every test under Wine.
source "$(dirname "$0")/common.sh"
prepare_runtime all
ctest --test-dir "$BUILD" --output-on-failure --timeout 300 "$@"
