#!/bin/sh
# Installs the build into a throw-away prefix and checks the desktop integration: the
# executable in bin/, the desktop entry under share/applications (valid for
# desktop-file-validate, naming that executable and the icon), and the scalable icon under
# share/icons/hicolor/scalable/apps as well-formed SVG.
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
echo "installed: $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"
