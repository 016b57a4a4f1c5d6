#!/bin/sh
# Runs the built application's self-check the way a user would, with nothing of the user's
# own: private XDG folders and a Secret Service of its own (run-with-secret-service.sh), the
# fake TDLib library through TDJSON_PATH, and every Google endpoint pointed at a loopback
# server that this script starts (TW_GOOGLE_BASE_URL). Then checks the report:
#   - exit status 0;
#   - every line has the shape "SELFCHECK PASS|FAIL <name>: <detail> [<s.s>s]";
#   - the checks come in their order (no accounts are stored, so exactly these seven);
#   - "keychain", "tdlib" and "google-network" pass.
#
#   check-selfcheck.sh <kelvanor> <fake libtdjson.so>
#
# Exit status 77 (a skip) when no Secret Service can be started, unless
# TW_REQUIRE_SECRET_SERVICE=1 makes that a failure.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(cd "$here/../../.." && pwd)"

if [ "${TW_SELFCHECK_INNER:-}" != 1 ]; then
    [ $# -eq 2 ] || { echo "usage: $0 <kelvanor> <libtdjson.so>" >&2; exit 2; }
    TW_SELFCHECK_INNER=1 exec "$source_dir/tests/support/run-with-secret-service.sh" "$0" "$@"
fi

# Inside the private session (HOME and the XDG folders are throw-away ones).
kelvanor="$1"
tdjson="$2"
if [ "${TW_SECRET_SERVICE:-}" != ready ]; then
    echo "no Secret Service: ${TW_SECRET_SERVICE_REASON:-unknown}"
    [ "${TW_REQUIRE_SECRET_SERVICE:-0}" = 1 ] && exit 1
    exit 77
fi

scratch="$(mktemp -d "${TMPDIR:-/tmp}/tw-selfcheck-XXXXXX")" || exit 1
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

# The stand-in for Google: the discovery document and 404 for everything else.
python3 -u - >"$scratch/port" 2>"$scratch/server.log" <<'EOF_PY' &
import http.server, json, sys
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/.well-known/openid-configuration":
            body = json.dumps({"issuer": "http://127.0.0.1"}).encode()
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
        else:
            body = b"{}"
            self.send_response(404)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1])
server.serve_forever()
EOF_PY
server_pid=$!
for _ in $(seq 1 100); do
    [ -s "$scratch/port" ] && break
    sleep 0.05
done
port="$(head -n1 "$scratch/port")"
[ -n "$port" ] || { echo "the loopback server did not start"; cat "$scratch/server.log"; exit 1; }

status=0
# No display of any kind: the self-check must not need one.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    TDJSON_PATH="$tdjson" TW_GOOGLE_BASE_URL="http://127.0.0.1:$port" \
    timeout 120 "$kelvanor" -TWSelfCheck >"$scratch/out" 2>"$scratch/err" || status=$?
echo "--- self-check output"
cat "$scratch/out"

fail() {
    echo "FAILED: $*"
    echo "--- standard error"
    cat "$scratch/err"
    exit 1
}
[ "$status" -eq 0 ] || fail "exit status $status"
bad="$(grep -vE '^SELFCHECK (PASS|FAIL) [a-z]+(-[a-zA-Z]+)*: .* \[[0-9]+\.[0-9]s\]$' "$scratch/out")"
[ -z "$bad" ] || fail "lines of the wrong shape: $bad"
names="$(sed -E 's/^SELFCHECK (PASS|FAIL) ([^:]+):.*/\2/' "$scratch/out" | tr '\n' ' ')"
expected="keychain tdlib google-network google-credentials telegram-sessions telegram-cleanup telegram-network "
[ "$names" = "$expected" ] || fail "checks in the wrong order: $names (expected $expected)"
for check in keychain tdlib google-network; do
    grep -q "^SELFCHECK PASS $check: " "$scratch/out" || fail "$check did not pass"
done
grep -q "^SELFCHECK PASS google-network: 127.0.0.1 reachable " "$scratch/out" ||
    fail "google-network did not name the loopback host"
grep -q "^SELFCHECK PASS tdlib: loaded version fake-tdjson " "$scratch/out" ||
    fail "tdlib did not load the fake library"
echo "self-check report as expected"
