#!/usr/bin/env bash
# Tests of the installer, each step in a scratch folder of its own under the
# build folder, removed at the end:
#   package            builds the package and the next version's, installs,
#                      upgrades and removes them with msiexec in a new Wine
#                      prefix, with installation_checks.exe between the steps
#   user_registration  regsvr32 /n /i:user and its removal in a new prefix
#   registration_free  installation_checks.exe in an application's folder of
#                      a new prefix, with the control, the properties component
#                      and their assembly manifests, run with the sample
#                      application manifest and without it; nothing registered
#   signing            a build given a certificate made here signs the DLLs
#                      and the package; one given none signs nothing
# Usage: installer_test.sh STEP BUILD VERSION UPGRADE_VERSION
set -euo pipefail
step=$1 BUILD=$2 version=$3 upgrade_version=$4
ROOT=$(cd "$(dirname "$0")/.." && pwd)
scratch=$BUILD/installer-test-$step
pad_library=libscriptel-proscript-windows-x64.dll

rm -rf "$scratch"
mkdir -p "$scratch"
stop_wine=
cleanup() {
    [ -z "$stop_wine" ] || wineserver -k || true
    rm -rf "$scratch"
}
trap cleanup EXIT

# A Linux path as Wine's Z: drive names it.
winpath() {
    local path
    path=$(realpath "$1")
    echo "Z:${path//\//\\}"
}

new_prefix() {
    export WINEPREFIX=$scratch/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wine wineboot --init >/dev/null 2>&1
    wineserver -w
    wineserver -p
    stop_wine=1
    # The first Wine process starts Wine's own background processes: run it
    # outside the pipes the checks are read through, or reading them would
    # wait for those processes. It also tells Wine that no window manager
    # runs, so that closing a window does not wait for one.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
}

# Runs the checks that match the filter and fails unless all `count` ran
# and passed; from build/bin, or the copy of the program named third.
checks() {
    local filter=$1 count=$2 program=${3:-$BUILD/bin/installation_checks.exe} output
    if ! output=$(wine "$program" --gtest_filter="$filter" 2>&1); then
        printf '%s\n' "$output"
        return 1
    fi
    printf '%s\n' "$output" | grep -E '^\[ +(OK|PASSED) +\]'
    printf '%s\n' "$output" | grep -q "PASSED  \] $count test" || { echo "expected $count checks of $filter"; return 1; }
}

run() {
    echo "+ $*"
    "$@"
}

package_step() {
    # The upgrade package is built into this step's scratch folder.
    run cmake --build "$BUILD" --target msi msi_upgrade_test
    local package=$BUILD/installer/SignaturePad-$version-x64.msi
    local upgrade=$scratch/SignaturePad-$upgrade_version-x64.msi
    new_prefix
    local folder="$WINEPREFIX/drive_c/Program Files/Tallowmark/Signature Pad"
    export SIGNATUREPAD_BUILT_CONTROL
    SIGNATUREPAD_BUILT_CONTROL=$(winpath "$BUILD/bin/SignaturePad.dll")
    # The properties component keeps the settings file that must survive.
    run wine regsvr32 /s "$(winpath "$BUILD/bin/Prelvane.dll")"

    # The rows, the product and its files; then a stroke, with the virtual
    # pad put beside the control as an administrator puts the vendor's.
    installed() {
        SIGNATUREPAD_PACKAGE=$1 SIGNATUREPAD_SDK=$2 checks 'Installed.WritesThe*:Installed.IsOne*' 2
        cp "$BUILD/bin/$pad_library" "$folder/"
        checks 'Installed.Creates*' 1
        rm "$folder/$pad_library"
    }
    run wine msiexec /i "$(winpath "$package")" /qn
    installed "$version" 0
    run wine msiexec /i "$(winpath "$upgrade")" /qn ADDLOCAL=ALL
    installed "$upgrade_version" 1
    run wine msiexec /x "$(winpath "$upgrade")" /qn
    checks 'Removed.*' 1
    run wine regsvr32 /s /u "$(winpath "$BUILD/bin/Prelvane.dll")"
}

user_registration_step() {
    new_prefix
    export SIGNATUREPAD_BUILT_CONTROL
    SIGNATUREPAD_BUILT_CONTROL=$(winpath "$BUILD/bin/SignaturePad.dll")
    run wine regsvr32 /s /n /i:user "$SIGNATUREPAD_BUILT_CONTROL"
    checks 'UserRegistration.Writes*' 1
    run wine regsvr32 /s /u /n /i:user "$SIGNATUREPAD_BUILT_CONTROL"
    checks 'UserRegistration.Removes*' 1
}

registration_free_step() {
    new_prefix
    checks 'RegistrationFree.NoClass*' 1
    local app="$WINEPREFIX/drive_c/Signing Application"
    mkdir -p "$app"
    run cp "$BUILD"/bin/{installation_checks.exe,SignaturePad.dll,Tallowmark.SignaturePad.manifest} \
        "$BUILD"/bin/{Prelvane.dll,Prelvane.manifest,$pad_library} "$app/"
    run cp "$BUILD/module/application.exe.manifest" "$app/installation_checks.exe.manifest"
    checks 'RegistrationFree.TheApplicationsManifest*' 1 "$app/installation_checks.exe"
    run rm "$app/installation_checks.exe.manifest"
    checks 'RegistrationFree.WithoutTheApplicationsManifest*' 1 "$app/installation_checks.exe"
    checks 'RegistrationFree.NoClass*' 1
}

signing_step() {
    # A build given no certificate signs nothing.
    if grep -q '^SIGNATUREPAD_SIGNING_CERTIFICATE:FILEPATH=$' "$BUILD/CMakeCache.txt" &&
        osslsigncode verify -in "$BUILD/bin/SignaturePad.dll" >/dev/null 2>&1; then
        echo "SignaturePad.dll is signed by a build given no certificate"
        return 1
    fi
    run openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tallowmark test code signing" \
        -addext extendedKeyUsage=codeSigning -keyout "$scratch/key.pem" -out "$scratch/certificate.pem" 2>/dev/null
    run cmake -S "$ROOT" -B "$scratch/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" -DSIGNATUREPAD_TESTS=OFF \
        -DSIGNATUREPAD_SIGNING_CERTIFICATE="$scratch/certificate.pem" -DSIGNATUREPAD_SIGNING_KEY="$scratch/key.pem" \
        >/dev/null
    run cmake --build "$scratch/build" --target SignaturePad Prelvane msi
    local file
    for file in bin/SignaturePad.dll bin/Prelvane.dll "installer/SignaturePad-$version-x64.msi"; do
        echo "+ osslsigncode verify $file"
        osslsigncode verify -CAfile "$scratch/certificate.pem" -in "$scratch/build/$file" | tail -2
    done
}

"${step}_step"
