#!/bin/sh
# Runs after every test of a run: no test may leave a copy of the control
# anywhere in the Wine prefix (tests copy it under other names and long paths).
# Usage: prefix_left_clean.sh <wine prefix> <the built SignaturePad.dll>
set -u
prefix=$1
control=$2
size=$(wc -c < "$control")
left=$(find "$prefix/drive_c" -type f -size "${size}c" -exec cmp -s "$control" {} \; -print)
if [ -n "$left" ]; then
    echo "copies of the control left in the prefix:"
    echo "$left"
    exit 1
fi
echo "no copy of the control in $prefix"
