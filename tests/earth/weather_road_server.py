#!/usr/bin/env python3
"""Local stand-in for the weather service and the METAR station files
(python3 standard library only), for weather_road_test.

It listens on a free port of 127.0.0.1 and writes "VT_WEATHER_ROAD_PORT=n"
to the --ports file once it listens. The program reaches it as its HTTP
proxy, so the weather service request arrives with its own absolute URL
(http://api.openweathermap.org/data/2.5/weather?...) and is answered here,
never forwarded; the station file is asked for at 127.0.0.1 itself. The
answers are recorded ones in the services' real formats; the station
file's date and report time are today's, since the program ignores a
report of another day. Every request line is appended to --log.

Stops by itself after --lifetime seconds or on SIGTERM.
"""
import argparse
import http.server
import os
import signal
import sys
import threading
import time
import urllib.parse

API_KEY = "road-test-key"

# Recorded answers of the current-weather service, as it sends them.
BERLIN = (
    '{"coord":{"lon":13.405,"lat":52.52},"weather":[{"id":500,"main":"Rain",'
    '"description":"light rain","icon":"10d"}],"base":"stations","main":{"temp":7.46,'
    '"feels_like":4.9,"temp_min":6.67,"temp_max":8.33,"pressure":1012,"humidity":81,'
    '"sea_level":1012,"grnd_level":1007},"visibility":10000,"wind":{"speed":4.12,"deg":250,'
    '"gust":7.2},"rain":{"1h":0.25},"clouds":{"all":75},"dt":1733738400,"sys":{"type":2,'
    '"id":2011538,"country":"DE","sunrise":1733728380,"sunset":1733756400},'
    '"timezone":3600,"id":2950159,"name":"Berlin","cod":200}')
NEW_YORK = (
    '{"coord":{"lon":-74.006,"lat":40.7128},"weather":[{"id":804,"main":"Clouds",'
    '"description":"overcast clouds","icon":"04n"}],"base":"stations","main":{"temp":-1.2,'
    '"feels_like":-5.3,"temp_min":-2.4,"temp_max":0.1,"pressure":1015,"humidity":74},'
    '"visibility":10000,"wind":{"speed":3.6,"deg":340},"clouds":{"all":100},'
    '"dt":1733738400,"sys":{"type":2,"id":2008776,"country":"US","sunrise":1733746000,'
    '"sunset":1733780000},"timezone":-18000,"id":5128581,"name":"New York","cod":200}')
NOT_FOUND = '{"cod":"404","message":"city not found"}'
BAD_KEY = ('{"cod":401, "message": "Invalid API key. Please see '
           'https://openweathermap.org/faq#error401 for more info."}')

# A station file: the observation time line, then the report.
STATION_REPORT = "KJFK {dd}{hh}51Z 36012G22KT 2SM -SN BR OVC008 M02/M04 A2992 RMK AO2 SLP133"

log_lock = threading.Lock()
log_path = None


def station_file(icao):
    if icao != "KJFK":
        return None
    now = time.gmtime()
    report = STATION_REPORT.format(dd="%02d" % now.tm_mday, hh="%02d" % now.tm_hour)
    return "%s %02d:51\n%s\n" % (time.strftime("%Y/%m/%d", now), now.tm_hour, report)


def weather_answer(query):
    q = urllib.parse.parse_qs(query)
    if q.get("APPID", [""])[0] != API_KEY:
        return 401, BAD_KEY
    if q.get("units", [""])[0] != "metric":
        return 400, NOT_FOUND
    try:
        lat, lon = float(q["lat"][0]), float(q["lon"][0])
    except (KeyError, ValueError):
        return 400, NOT_FOUND
    # The city table's coordinates of a place differ from the service's a little.
    if abs(lat - 52.52) < 0.1 and abs(lon - 13.405) < 0.1:
        return 200, BERLIN
    if abs(lat - 40.7128) < 0.1 and abs(lon + 74.006) < 0.1:
        return 200, NEW_YORK
    return 404, NOT_FOUND


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, code, body, kind):
        data = body.encode()
        self.send_response(code)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        with log_lock:
            with open(log_path, "a") as f:
                f.write(self.path + "\n")
        url = urllib.parse.urlsplit(self.path)
        if url.hostname == "api.openweathermap.org" and url.path == "/data/2.5/weather":
            code, body = weather_answer(url.query)
            # The service answers its errors with the code inside the JSON too.
            self.reply(code, body, "application/json; charset=utf-8")
            return
        prefix = "/data/observations/metar/stations/"
        if url.hostname in (None, "127.0.0.1") and url.path.startswith(prefix) \
                and url.path.endswith(".TXT"):
            text = station_file(url.path[len(prefix):-4])
            if text is not None:
                self.reply(200, text, "text/plain")
                return
        self.reply(404, "not found\n", "text/plain")


def main():
    global log_path
    parser = argparse.ArgumentParser()
    parser.add_argument("--ports", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--lifetime", type=float, default=600)
    args = parser.parse_args()
    log_path = args.log
    open(log_path, "w").close()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    signal.signal(signal.SIGTERM, lambda *a: os._exit(0))
    threading.Timer(args.lifetime, lambda: os._exit(0)).start()
    tmp = args.ports + ".tmp"
    with open(tmp, "w") as f:
        f.write("VT_WEATHER_ROAD_PORT=%d\n" % server.server_address[1])
    os.replace(tmp, args.ports)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
