#!/usr/bin/env bash
# Takes the screenshots of the settings sheet and its two dialogs in this
# folder: builds, starts Xvfb and Wine as the tests do, and runs the test
# that saves them.
source "$(dirname "$0")/../../scripts/common.sh"
prepare_runtime

cd "$BUILD/bin"
wine regsvr32 /s Prelvane.dll
TALLOWMARK_SCREENSHOTS=$(winepath -w "$ROOT/docs/screenshots") \
    wine test_settings_page.exe --gtest_filter='Screenshots.*'
