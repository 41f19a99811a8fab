#!/bin/sh
# Builds the settings file fuzz target natively with clang and runs it for a
# bounded time over the seed corpus kept beside this script.
# Usage: run.sh <work folder> [seconds]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$1
seconds=${2:-20}
mkdir -p "$work/corpus"
clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    "$here/settings_file_fuzz.cpp" "$here/../settings_file.cpp" -o "$work/settings_file_fuzz"
# New inputs go to the work folder's corpus; the seeds stay as they are.
exec "$work/settings_file_fuzz" -max_total_time="$seconds" -max_len=16384 -timeout=10 \
    -artifact_prefix="$work/" -print_final_stats=1 "$work/corpus" "$here/corpus"
