#!/bin/sh
# Runs a command against a Secret Service of its own: a private session bus and a
# gnome-keyring-daemon whose login keyring lives in a throw-away home and is unlocked with a
# throw-away password. Nothing of the user's own keyring or session is touched.
#
#   run-with-secret-service.sh <command> [arguments...]
#
# The command sees TW_SECRET_SERVICE=ready when the service is up, or
# TW_SECRET_SERVICE=unavailable (with the reason in TW_SECRET_SERVICE_REASON) when it could
# not be started; it decides whether that is a skip or a failure.
set -u

if [ "${TW_SECRET_SERVICE_INNER:-}" != 1 ]; then
    scratch="$(mktemp -d "${TMPDIR:-/tmp}/tw-keyring-XXXXXX")" || exit 1
    chmod 700 "$scratch"
    trap 'rm -rf "$scratch"' EXIT INT TERM
    mkdir -p "$scratch/home" "$scratch/data" "$scratch/config" "$scratch/cache" "$scratch/run"
    chmod 700 "$scratch/run"
    if ! command -v dbus-run-session >/dev/null 2>&1 || ! command -v gnome-keyring-daemon >/dev/null 2>&1; then
        TW_SECRET_SERVICE=unavailable TW_SECRET_SERVICE_REASON="dbus-run-session or gnome-keyring-daemon is not installed" \
            exec "$@"
    fi
    HOME="$scratch/home" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
        XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/run" \
        TW_SECRET_SERVICE_INNER=1 dbus-run-session -- "$0" "$@"
    exit $?
fi

# Inside the private session bus.
unset TW_SECRET_SERVICE_INNER
password="tw-$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')"
if output="$(printf '%s' "$password" | gnome-keyring-daemon --unlock --components=secrets 2>&1)"; then
    # The daemon prints the variables a session needs (the control socket), one per line.
    while IFS= read -r line; do
        case "$line" in
            [A-Z_]*=*) export "$line" ;;
        esac
    done <<EOF_VARS
$output
EOF_VARS
    export TW_SECRET_SERVICE=ready
else
    export TW_SECRET_SERVICE=unavailable
    export TW_SECRET_SERVICE_REASON="gnome-keyring-daemon did not start: $output"
fi
# The daemon leaves with the session bus when the command is done.
exec "$@"
