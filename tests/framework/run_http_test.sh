#!/bin/bash
# Runs a test program against local servers (http_servers.py): makes a
# throw-away test CA and the servers' certificates (below), starts the
# servers on free ports of 127.0.0.1, hands the ports to the Wine test
# program through the environment (VT_HTTP_PORT and the rest) and stops the
# servers on exit. VT_HTTP_FILES is the folder (as Wine sees it) whose files
# the servers answer under /files/; VT_TEST_CA the CA's certificate (DER, as
# Wine sees it), which the test program adds to its prefix's "ROOT" store.
#
# The TLS servers' certificates, all for one key:
#   VT_HTTPS_PORT            by the CA for localhost, veltaspar.invalid and 127.0.0.1
#   VT_HTTPS_LOCALHOST_PORT  by the CA for localhost only
#   VT_HTTPS_EXPIRED_PORT    by the CA for all three names, valid only on 1 Jan 2020
#   VT_HTTPS_SELF_PORT       self-signed for all three names
#   (the stand-in's CONNECT tunnels) by the CA for the stand-in https hosts
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
mkdir -p "$work/files"

make_certificates() {
    local names="subjectAltName=DNS:localhost,DNS:veltaspar.invalid,IP:127.0.0.1"
    cd "$work" || return 1
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -subj "/CN=Veltaspar Test CA" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" -keyout ca.key -out ca.pem &&
    openssl x509 -in ca.pem -outform DER -out ca.der &&
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=localhost" \
        -keyout key.pem -out server.csr &&
    echo "$names" >all.ext &&
    echo "subjectAltName=DNS:localhost" >localhost.ext &&
    echo "subjectAltName=DNS:aviationweather.gov,DNS:weather.veltaspar.net" >standin.ext &&
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -set_serial 2 -days 2 \
        -extfile all.ext -out cert.pem &&
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -set_serial 3 -days 2 \
        -extfile localhost.ext -out localhost.pem &&
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -set_serial 5 -days 2 \
        -extfile standin.ext -out standin.pem &&
    openssl req -x509 -key key.pem -days 2 -subj "/CN=localhost" -addext "$names" \
        -out self.pem || return 1
    # Dates in the past take "openssl ca", with a throw-away database.
    mkdir -p ca-db && : >ca-db/index.txt && echo 04 >ca-db/serial &&
    printf '%s\n' "[ca]" "default_ca = test" "[test]" "database = ca-db/index.txt" \
        "new_certs_dir = ca-db" "serial = ca-db/serial" "default_md = sha256" \
        "policy = any" "unique_subject = no" "[any]" "commonName = supplied" >ca.cnf &&
    openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in server.csr \
        -startdate 20200101000000Z -enddate 20200102000000Z -extfile all.ext -notext \
        -out expired.pem
}
if ! (make_certificates) >"$work/openssl.log" 2>&1; then
    cat "$work/openssl.log" >&2
    echo "run_http_test: could not make the test certificates" >&2
    exit 1
fi

"$python" "$here/http_servers.py" --cert "$work/cert.pem" --key "$work/key.pem" \
    --tls-port "VT_HTTPS_LOCALHOST_PORT=$work/localhost.pem" \
    --tls-port "VT_HTTPS_EXPIRED_PORT=$work/expired.pem" \
    --tls-port "VT_HTTPS_SELF_PORT=$work/self.pem" --standin-cert "$work/standin.pem" \
    --ports "$work/ports.env" --lifetime 900 --files "$work/files" &
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
export VT_HTTP_FILES="Z:$(echo "$work/files" | tr / '\\')"
export VT_TEST_CA="Z:$(echo "$work/ca.der" | tr / '\\')"

"$wine_run" "$exe" "$@"
rc=$?
exit $rc
