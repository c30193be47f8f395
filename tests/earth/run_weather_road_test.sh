#!/bin/bash
# Runs earth_weather_road_tests against the local weather and station-file
# server (weather_road_server.py): starts it on a free port of 127.0.0.1,
# hands the port and its request log to the Wine test program through the
# environment and stops the server on exit.
#   run_weather_road_test.sh PYTHON WINE_RUN TEST_EXE [test arguments...]
set -u
here="$(cd "$(dirname "$0")" && pwd)"
python="$1" wine_run="$2" exe="$3"
shift 3

work="$(mktemp -d "${TMPDIR:-/tmp}/vt-weather.XXXXXX")"
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

"$python" "$here/weather_road_server.py" --ports "$work/ports.env" --log "$work/requests.log" \
    --lifetime 600 &
server_pid=$!
for _ in $(seq 200); do
    [ -f "$work/ports.env" ] && break
    if ! kill -0 "$server_pid" 2>/dev/null; then
        echo "run_weather_road_test: the server did not start" >&2
        exit 1
    fi
    sleep 0.05
done
if [ ! -f "$work/ports.env" ]; then
    echo "run_weather_road_test: the server did not report its port" >&2
    exit 1
fi
set -a
source "$work/ports.env"
set +a
# The Wine program reads the log through its Z: drive.
export VT_WEATHER_ROAD_LOG="Z:$(echo "$work/requests.log" | tr / '\\')"

"$wine_run" "$exe" "$@"
