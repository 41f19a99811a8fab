# Shared set-up of the README commands: Debian packages, the cross build, a
# Wine prefix inside the build folder and an X display. Sourced, not run.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
# The demo needs the cross build, Wine with its own fonts (the caption
# buttons are drawn with its Marlett font) and a virtual display; the tests,
# the benchmarks and the package need the rest too.
DEMO_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev
               wine wine64 fonts-wine xvfb xauth)
TEST_PACKAGES=(x11-apps imagemagick googletest clang lld e2fsprogs wixl osslsigncode openssl)

install_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
    done
    ((${#missing[@]})) || return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# build_project demo|all [build arguments]: "all" configures with the
# tests; "demo" leaves a configured build folder as it is and configures a
# new one without them, as it has not installed what they need.
build_project() {
    local scope=$1 options=()
    shift
    if [ "$scope" = all ]; then
        options+=(-DSIGNATUREPAD_TESTS=ON)
    elif [ ! -f "$BUILD/CMakeCache.txt" ]; then
        options+=(-DSIGNATUREPAD_TESTS=OFF)
    fi
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" "${options[@]}" >/dev/null
    cmake --build "$BUILD" "$@"
}

# Everything started here is stopped on exit.
CLEANUP=()
cleanup() {
    local i
    for ((i = ${#CLEANUP[@]} - 1; i >= 0; i--)); do eval "${CLEANUP[i]}" || true; done
}
trap cleanup EXIT

start_wine() {
    export WINEPREFIX="$BUILD/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Creating the Wine prefix $WINEPREFIX"
        wine wineboot --init >/dev/null 2>&1
        wineserver -w
    fi
    # Wine 8 as Debian packages it does not load its own fonts from
    # /usr/share/wine/fonts (package fonts-wine), so window captions would
    # show letters where their buttons belong: they are drawn with Marlett,
    # which the prefix therefore gets a copy of.
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    [ -f "$fonts/marlett.ttf" ] || cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
    # One persistent server for the whole run makes each Wine process start fast.
    wineserver -p
    CLEANUP+=("wineserver -k")
    # Without a window manager, managed windows make Wine wait about two
    # seconds whenever one closes, and they get no caption. This first Wine
    # process also starts Wine's own background processes detached from any
    # pipe: a test runner reading a test's output would otherwise wait for them.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
}

start_display() {
    [ -z "${DISPLAY:-}" ] || return 0
    local n=90
    # A display is taken when its lock or socket is there, or its abstract
    # socket, which a server in another root with its own /tmp also holds.
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] ||
          grep -q "@/tmp/.X11-unix/X$n\b" /proc/net/unix 2>/dev/null; do n=$((n + 1)); done
    mkdir -p "$BUILD"
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$BUILD/xvfb.log" 2>&1 &
    local xvfb=$!
    CLEANUP+=("kill $xvfb")
    export DISPLAY=":$n"
    local tries=0
    until [ -S "/tmp/.X11-unix/X$n" ]; do
        tries=$((tries + 1))
        if [ $tries -ge 300 ] || ! kill -0 $xvfb 2>/dev/null; then
            echo "Xvfb did not start:"
            cat "$BUILD/xvfb.log"
            return 1
        fi
        sleep 0.1
    done
}

# prepare_runtime demo|all [build arguments]: the demo's packages only, or
# everything the tests need too; the other arguments are passed to the build
# (`--target NAME` builds only what NAME needs).
prepare_runtime() {
    local scope=$1
    if [ "$scope" = all ]; then
        install_packages "${DEMO_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    else
        install_packages "${DEMO_PACKAGES[@]}"
    fi
    build_project "$@"
    start_display
    start_wine
}
