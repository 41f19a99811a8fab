#!/usr/bin/env bash
# Builds the control and runs the demo host: it captures a signature from the
# virtual pad. Arguments are passed to the host.
source "$(dirname "$0")/common.sh"
prepare_runtime
cd "$BUILD/bin"
wine demohost.exe "$@"
