#!/bin/sh
# Installs the build into a throw-away prefix and checks the desktop integration: the
# executable in bin/, the desktop entry under share/applications (valid for
# desktop-file-validate, naming that executable and the icon), and the scalable icon under
# share/icons/hicolor/scalable/apps as well-formed SVG; and TDLib's JSON library in the
# application's own library folder, which the installed executable loads: its self-check
# (private folders, no keyring, Google on a closed loopback port, no TDJSON_PATH) passes
# "tdlib", and the dynamic loader's trace shows that it opened the installed copy. The modules
# the executable loads on first use (libkelvanor-*.so) are in that same folder, and the
# self-check's request loads the installed HTTP module.
#
#   check-install.sh <build directory>
set -u
build="$1"
prefix="$(mktemp -d "${TMPDIR:-/tmp}/tw-install-XXXXXX")" || exit 1
trap 'rm -rf "$prefix"' EXIT INT TERM
fail() { echo "FAILED: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || { cat "$prefix.log"; rm -f "$prefix.log"; fail "cmake --install"; }
rm -f "$prefix.log"
id=org.tessarow.Kelvanor
desktop="$prefix/share/applications/$id.desktop"
icon="$prefix/share/icons/hicolor/scalable/apps/$id.svg"
[ -x "$prefix/bin/kelvanor" ] || fail "no executable bin/kelvanor"
[ -f "$desktop" ] || fail "no desktop entry $id.desktop"
[ -f "$icon" ] || fail "no scalable icon $id.svg"

if command -v desktop-file-validate >/dev/null 2>&1; then
    out="$(desktop-file-validate "$desktop" 2>&1)" || fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate reports: $out"
else
    echo "desktop-file-validate is not installed (package desktop-file-utils)"
    exit 77
fi
grep -qx "Exec=kelvanor" "$desktop" || fail "Exec does not name the installed executable"
grep -qx "Icon=$id" "$desktop" || fail "Icon does not name the installed icon"
python3 -c 'import sys, xml.etree.ElementTree as t; r = t.parse(sys.argv[1]).getroot(); sys.exit(0 if r.tag.endswith("svg") else 1)' "$icon" ||
    fail "the icon is not SVG"
# Our modules in the application's own library folder.
for module in pdf media http; do
    found="$(find "$prefix" -name "libkelvanor-$module.so" | head -n1)"
    case "$found" in
        "$prefix"/lib*/kelvanor/libkelvanor-$module.so) ;;
        "") fail "libkelvanor-$module.so was not installed" ;;
        *) fail "libkelvanor-$module.so installed outside the application's library folder: $found" ;;
    esac
done
# TDLib beside the application, when the set-up script has fetched it for this build.
source_tdjson="$(sed -n 's/^TW_TDJSON_INSTALL_DIR:[A-Z]*=//p' "$build/CMakeCache.txt")/libtdjson.so"
installed_tdjson="$(find "$prefix" -name libtdjson.so | head -n1)"
if [ -f "$source_tdjson" ]; then
    [ -n "$installed_tdjson" ] || fail "libtdjson.so was not installed"
    case "$installed_tdjson" in
        "$prefix"/lib*/kelvanor/libtdjson.so) ;;
        *) fail "libtdjson.so installed outside the application's library folder: $installed_tdjson" ;;
    esac
    run="$prefix/run"
    mkdir -p "$run/data" "$run/config" "$run/cache" "$run/trace"
    status=0
    env -u TDJSON_PATH -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        HOME="$run" XDG_DATA_HOME="$run/data" XDG_CONFIG_HOME="$run/config" \
        XDG_CACHE_HOME="$run/cache" DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent \
        TW_GOOGLE_BASE_URL=http://127.0.0.1:9 LD_DEBUG=files LD_DEBUG_OUTPUT="$run/trace/ld" \
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
        timeout 120 "$prefix/bin/kelvanor" -TWSelfCheck >"$run/out" 2>"$run/err" || status=$?
    [ "$status" -eq 0 ] || { cat "$run/out" "$run/err"; fail "the installed self-check exited with $status"; }
    grep -q '^SELFCHECK PASS tdlib: loaded version ' "$run/out" ||
        { cat "$run/out"; fail "the installed application did not load TDLib"; }
    grep -h "file=.*libtdjson\.so" "$run/trace"/ld* | grep -q "file=$installed_tdjson " ||
        { grep -h "libtdjson" "$run/trace"/ld*; fail "the installed application loaded another libtdjson.so"; }
    installed_http="$(find "$prefix" -name libkelvanor-http.so | head -n1)"
    grep -h "file=.*libkelvanor-http\.so" "$run/trace"/ld* | grep -q "file=$installed_http " ||
        { grep -h "libkelvanor" "$run/trace"/ld*; fail "the installed application did not load its HTTP module"; }
    echo "the installed application loads ${installed_tdjson#"$prefix"/} and ${installed_http#"$prefix"/}"
else
    echo "no libtdjson.so at $source_tdjson (scripts/setup.sh fetches it): not installed, not checked"
fi
echo "installed: $(cd "$prefix" && find . -type f ! -path './run/*' | sort | tr '\n' ' ')"
