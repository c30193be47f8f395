#!/bin/bash
# Runs framework_http_tests (and the update check and options page tests)
# against local servers (http_servers.py): makes a
# throw-away self-signed certificate, starts the servers on free ports of
# 127.0.0.1, hands the ports to the Wine test program through the
# environment (VT_HTTP_PORT and the rest) and stops the servers on exit.
#   run_http_test.sh PYTHON WINE_RUN TEST_EXE [test arguments...]
set -u
here="$(cd "$(dirname "$0")" && pwd)"
python="$1" wine_run="$2" exe="$3"
shift 3

work="$(mktemp -d "${TMPDIR:-/tmp}/vt-http.XXXXXX")"
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=127.0.0.1" \
        -keyout "$work/key.pem" -out "$work/cert.pem" >"$work/openssl.log" 2>&1; then
    cat "$work/openssl.log" >&2
    echo "run_http_test: could not make the test certificate" >&2
    exit 1
fi

"$python" "$here/http_servers.py" --cert "$work/cert.pem" --key "$work/key.pem" \
    --ports "$work/ports.env" --lifetime 900 &
server_pid=$!
for _ in $(seq 200); do
    [ -f "$work/ports.env" ] && break
    if ! kill -0 "$server_pid" 2>/dev/null; then
        echo "run_http_test: the test servers did not start" >&2
        exit 1
    fi
    sleep 0.05
done
if [ ! -f "$work/ports.env" ]; then
    echo "run_http_test: the test servers did not report their ports" >&2
    exit 1
fi
set -a
source "$work/ports.env"
set +a

"$wine_run" "$exe" "$@"
rc=$?
exit $rc
