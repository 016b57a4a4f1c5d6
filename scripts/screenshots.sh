#!/usr/bin/env bash
# Screens of the application as a user sees them: runs the end-to-end test under Xvfb (a real
# X11 window, -platform xcb) against the fakes, once with the light palette and once with the
# dark one, saving a PNG of every screen the run passes; then copies the main window browsing
# a Drive folder to docs/main-window.png.
#
#   scripts/screenshots.sh [output folder]    (default: build/screenshots)
#
# Needs the build (scripts/setup.sh build) and xvfb-run.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${TW_BUILD_DIR:-$here/build}"
out="${1:-$build_dir/screenshots}"
test_exe="$build_dir/tests/App/EndToEnd/App_EndToEnd"
tdjson="$build_dir/tests/support/faketdjson/libtdjson.so"

[ -x "$test_exe" ] || { echo "build first: $test_exe is missing" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is not installed" >&2; exit 1; }

for scheme in light dark; do
    rm -rf "$out/$scheme"
    mkdir -p "$out/$scheme"
    dark=0
    [ "$scheme" = dark ] && dark=1
    env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY \
        TW_E2E_SHOTS="$out/$scheme" TW_E2E_DARK="$dark" TDJSON_PATH="$tdjson" LC_ALL=C.UTF-8 \
        xvfb-run -a -s "-screen 0 1400x900x24" \
        "$here/tests/support/run-with-secret-service.sh" "$test_exe" -platform xcb
    echo "$scheme screens: $out/$scheme"
done

cp "$out/light/main-window.png" "$here/docs/main-window.png"
echo "docs/main-window.png updated"
