#!/usr/bin/env bash
# Takes the screenshots of the settings sheet and its two dialogs and of the
# demo host's signing window in this folder: builds, starts Xvfb and Wine as
# the tests do, and runs the tests that save them.
source "$(dirname "$0")/../../scripts/common.sh"
prepare_runtime all

cd "$BUILD/bin"
wine regsvr32 /s Prelvane.dll
TALLOWMARK_SCREENSHOTS=$(winepath -w "$ROOT/docs/screenshots") \
    wine test_settings_page.exe --gtest_filter='Screenshots.*'
TALLOWMARK_SCREENSHOTS=$(winepath -w "$ROOT/docs/screenshots") \
    wine test_demohost_run.exe --gtest_filter='HostWindow.InkAppears*'
