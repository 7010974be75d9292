#!/usr/bin/env bash
# Cross-compiles the Windows backend of the native desktop layer with MinGW-w64 together with a console
# program that runs the desktop scenarios through it on real windows, then runs that program under Wine
# on a virtual X display and checks its result. Output in build-win32/ (the Wine prefix lives there too,
# so only the first run pays for creating it).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh test

out=build-win32
mkdir -p "$out"
exe=$out/win32-desktop-check.exe

echo "win32-check: cross-compiling $exe"
x86_64-w64-mingw32-g++ -std=c++17 -Wall -Wextra -Werror -O1 -static -I. \
    platform/NativeRegion.cpp platform/win32/Win32Desktop.cpp \
    tests/platform/DesktopScenarios.cpp tests/platform/win32/Win32DesktopCheck.cpp \
    -o "$exe" -luser32 -lgdi32 -lshell32

wine=
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then wine=$candidate; break; fi
done
[ -n "$wine" ] || { echo "win32-check: no wine64 found" >&2; exit 1; }
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)

export WINEPREFIX=$PWD/$out/wineprefix
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono or Gecko install prompts: nothing here needs them, and a dialog would wait forever.
export WINEDLLOVERRIDES="mscoree,mshtml="
stop_wine() { [ -n "$wineserver" ] && timeout 30 "$wineserver" -k 2>/dev/null || true; }
trap stop_wine EXIT

# The screen the scenarios expect (kScreen in Win32DesktopCheck.cpp).
xvfb=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp")

# Creating the prefix is slow the first time; bounded, and tried twice before giving up.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "win32-check: creating the Wine prefix"
    for attempt in 1 2; do
        if timeout 300 "${xvfb[@]}" "$wine" wineboot --init >"$out/wineboot.log" 2>&1; then break; fi
        echo "win32-check: wineboot attempt $attempt failed" >&2
        stop_wine
        [ "$attempt" = 2 ] && { tail -20 "$out/wineboot.log" >&2; exit 1; }
    done
    stop_wine
fi

echo "win32-check: running under Wine"
status=0
timeout 180 "${xvfb[@]}" "$wine" "$exe" >"$out/check.log" 2>"$out/check.err" </dev/null || status=$?
tr -d '\r' <"$out/check.log"
if [ "$status" -ne 0 ] || ! tr -d '\r' <"$out/check.log" | grep -Eq '^[0-9]+ passed, 0 failed$'; then
    echo "win32-check: failed (exit $status)" >&2
    tail -20 "$out/check.err" >&2 || true
    exit 1
fi
echo "win32-check: the Windows backend passed under Wine"
