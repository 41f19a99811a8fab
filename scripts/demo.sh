#!/usr/bin/env bash
# Builds the control and runs the demo host: it captures a signature from the
# virtual pad and writes signature.svg and signature.png into build/bin (or
# the folder given with --out). Arguments are passed to the host; paths are
# taken relative to the folder this script was started in. --window shows the
# signing window, which waits for its user: it needs a display to be seen on.
source "$(dirname "$0")/common.sh"

arguments=()
for argument in "$@"; do
    if [[ $argument == --window && -z ${DISPLAY:-} ]]; then
        echo "demo.sh: --window needs a display you can see: set DISPLAY" >&2
        exit 1
    fi
    # Wine reads an absolute Linux path as one on its Z: drive.
    if [[ $argument != -* && -e $argument ]]; then
        argument=$(realpath "$argument")
    fi
    arguments+=("$argument")
done

# Only the host and what it loads: the control, the properties component and the virtual pad.
prepare_runtime demo --target demohost
cd "$BUILD/bin"
wine demohost.exe "${arguments[@]}"
