#!/usr/bin/env bash
# Builds the product with clang for the same Windows target, warnings as
# errors: a second compiler keeps the sources portable.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$1
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/clang-mingw-w64-x86_64.cmake" \
    -DSIGNATUREPAD_TESTS=OFF -DSIGNATUREPAD_WERROR=ON >/dev/null
cmake --build "$BUILD"
