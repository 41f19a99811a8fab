#!/usr/bin/env bash
# Takes the screenshots of the settings sheet and its two dialogs in this
# folder: builds, starts Xvfb and Wine as the tests do, and runs the test
# that saves them.
source "$(dirname "$0")/../../scripts/common.sh"
prepare_runtime

# With no window manager on the display, Wine draws the windows' captions
# itself only for windows it does not hand to a manager.
x11_key='HKCU\Software\Wine\X11 Driver'
wine reg add "$x11_key" /v Managed /d N /f >/dev/null
CLEANUP+=("wine reg delete '$x11_key' /v Managed /f >/dev/null 2>&1")

cd "$BUILD/bin"
wine regsvr32 /s Prelvane.dll
TALLOWMARK_SCREENSHOTS=$(winepath -w "$ROOT/docs/screenshots") \
    wine test_settings_page.exe --gtest_filter='Screenshots.*'
