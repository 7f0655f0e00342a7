"""End-to-end tests of the readings other programs get: the HTTP feed read
as an integrator's script reads it (a stream that breaks and resumes, a
clear, a restart), the live CSV file while it grows and while another
program holds it, and a real browser (headless Chromium) on the feed.

    python3 tests/e2e/test_feed.py BUILD_BIN [SHOTS_DIR] [unittest args]"""

import csv
import fcntl
import http.client
import http.server
import json
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chromium import Chromium  # noqa: E402
from harness import CLEAR, OK, OPEN_CLOSE, STATUS, YES, ProgramTest, Scale, run_tests, wait_until  # noqa: E402


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get(port, path, headers=None):
    """(status, headers, body) of one GET on loopback."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    try:
        connection.request("GET", path, headers=headers or {})
        answer = connection.getresponse()
        return answer.status, dict(answer.getheaders()), answer.read()
    finally:
        connection.close()


class EventStream(threading.Thread):
    """/readings/stream (or another stream) read as Server-Sent Events, on a thread of its own."""

    def __init__(self, port, last_id=None, path="/readings/stream"):
        super().__init__(daemon=True)
        self.connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        headers = {"Accept": "text/event-stream"}
        if last_id is not None:
            headers["Last-Event-ID"] = str(last_id)
        self.connection.request("GET", path, headers=headers)
        self.answer = self.connection.getresponse()
        self.events = []
        self.lock = threading.Lock()
        self.start()

    def run(self):
        event = {}
        try:
            while True:
                line = self.answer.readline()
                if not line:
                    return
                line = line.decode("utf-8").rstrip("\n")
                if not line:
                    if "data" in event:
                        with self.lock:
                            self.events.append(event)
                    event = {}
                elif not line.startswith(":"):
                    name, _, value = line.partition(": ")
                    event[name] = value
        except (OSError, ValueError, AttributeError, http.client.HTTPException):
            # AttributeError: the connection closed under the reading thread.
            return

    def seqs(self):
        with self.lock:
            return [int(e["id"]) for e in self.events]

    def close(self):
        try:
            self.connection.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.connection.close()
        self.join(5)


class FeedTest(ProgramTest):
    def start_with_feed(self, scale, **feed):
        self.port = free_port()
        self.folder = tempfile.mkdtemp(prefix="tarvex-feed-")
        settings = {"Http": f"127.0.0.1:{self.port}", **feed}
        p = self.start(scale, feed=settings)
        wait_until(lambda: self.answers(), 10, "the feed to listen")
        return p

    def answers(self):
        try:
            return get(self.port, "/status")[0] == 200
        except OSError:
            return False

    def status(self):
        return json.loads(get(self.port, "/status")[2])

    def after(self, seq, limit=1000):
        status, _, body = get(self.port, f"/readings?after={seq}&limit={limit}")
        self.assertEqual(status, 200)
        return json.loads(body)

    def all_readings(self):
        readings, last = [], 0
        while True:
            page = self.after(last)
            if not page:
                return readings
            readings += page
            last = page[-1]["seq"]

    def disconnect(self, p):
        p.click(OPEN_CLOSE)
        wait_until(lambda: self.status()["link"] == "closed", 10, "the link to close")


class Feed(FeedTest):
    def test_a_script_gets_every_reading_once_across_a_broken_stream_a_clear_and_a_restart(self):
        p = self.start_with_feed(Scale(interval=0.005))
        status, _, _ = get(self.port, "/readings/latest")
        self.assertEqual(status, 204, "no reading yet")
        first = EventStream(self.port, last_id=0)
        # A client that asks for everything and never reads a byte.
        stuck = socket.create_connection(("127.0.0.1", self.port))
        stuck.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stuck.sendall(b"GET /readings/stream?after=0 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        self.addCleanup(stuck.close)
        self.connect(p)
        self.assertEqual(self.status()["link"], "connected")
        wait_until(lambda: len(first.seqs()) >= 100, 15, "readings through the stream")
        first.close()
        resumed = EventStream(self.port, last_id=first.seqs()[-1])
        wait_until(lambda: p.rows() >= 300, 15, "more readings")
        p.click(CLEAR)
        p.click_in_box(p.wait_box("Clear the readings shown"), YES)
        p.wait_no_box("Clear the readings shown")
        wait_until(lambda: p.rows() >= 50, 15, "readings after the clear")
        self.disconnect(p)
        acknowledged = self.scale.acks
        wait_until(lambda: len(first.seqs()) + len(resumed.seqs()) >= acknowledged, 10, "the stream to catch up")
        seqs = first.seqs() + resumed.seqs()
        self.assertEqual(seqs, list(range(1, acknowledged + 1)), "every acknowledged reading once, in order")
        resumed.close()
        newest = json.loads(get(self.port, "/readings/latest")[2])
        self.assertEqual(newest["seq"], acknowledged)
        self.assertEqual(newest["kind"], "weight")
        self.assertEqual(newest["unit"], "KG")
        self.assertRegex(newest["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")

        # A crash and a new start: the numbers go on, and what came before
        # the clear and the crash can still be read by seq.
        p.kill()
        self.restart()
        p.click_in_box(p.wait_box("were still in the table", 10), YES)
        wait_until(lambda: self.answers(), 10, "the feed after the restart")
        self.assertEqual(self.status()["last_seq"], acknowledged)
        self.connect(p)
        wait_until(lambda: p.rows() >= 100, 15, "readings after the restart")
        self.disconnect(p)
        total = self.scale.acks
        self.assertEqual([r["seq"] for r in self.all_readings()], list(range(1, total + 1)))
        self.assertEqual(self.after(acknowledged, 1)[0]["seq"], acknowledged + 1)
        p.shot("after-restart")

    def test_the_csv_file_grows_line_by_line_and_waits_while_another_program_holds_it(self):
        csv_file = os.path.join(tempfile.mkdtemp(prefix="tarvex-csv-"), "weights.csv")
        p = self.start_with_feed(Scale(interval=0.02), Csv_File=csv_file, Csv_Separator=";")
        self.connect(p)
        wait_until(lambda: os.path.exists(csv_file) and self.csv_seqs(csv_file)[-1:] >= [20], 15, "lines in the file")
        with open(csv_file, "rb") as f:
            self.assertTrue(f.read(3) == b"\xef\xbb\xbf", "a byte-order mark first")
        # Another program takes the file for itself alone.
        holder = open(csv_file, "rb")
        fcntl.flock(holder, fcntl.LOCK_EX)
        held_at = self.csv_seqs(csv_file)[-1]
        wait_until(lambda: "CSV file not written" in self.status_line(p), 10, "the status line to say so")
        wait_until(lambda: self.status()["last_seq"] >= held_at + 50, 15, "readings while it is held")
        p.shot("csv-held")
        self.assertLessEqual(self.csv_seqs(csv_file)[-1], held_at + 1, "nothing written while it is held")
        # The program ends unexpectedly while lines wait; the next start
        # still owes them to the file.
        p.kill()
        last = self.scale.acks
        self.restart()
        # An ordinary user cannot open the pseudo-terminal the killed
        # program held exclusively (it outlives the program, as no real
        # port does): that is told first.
        box = p.wait_box(None, 10)
        if "No serial port" in p.box_text(box):
            p.click_in_box(box, OK)
        p.click_in_box(p.wait_box("were still in the table", 10), YES)
        wait_until(lambda: "CSV file not written" in self.status_line(p), 10, "the lines still waiting")
        fcntl.flock(holder, fcntl.LOCK_UN)
        holder.close()
        wait_until(lambda: "CSV file written again" in self.status_line(p), 10, "the status line to say it is back")
        wait_until(lambda: self.csv_seqs(csv_file)[-1] == last, 10, "every waiting line")
        self.assertEqual(self.csv_seqs(csv_file), list(range(1, last + 1)), "each line once, in order")
        with open(csv_file, encoding="utf-8-sig", newline="") as f:
            rows = list(csv.reader(f, delimiter=";"))
        self.assertEqual(rows[0][:4], ["desk", "seq", "number", "kind"])
        self.assertEqual(sum(1 for r in rows if r[0] == "desk"), 1, "one header line")

    @staticmethod
    def status_line(p):
        return p.control(STATUS)["label"]

    @staticmethod
    def csv_seqs(path):
        with open(path, encoding="utf-8-sig", newline="") as f:
            rows = list(csv.reader(f, delimiter=";"))
        return [int(r[1]) for r in rows[1:] if len(r) > 1]


# A page of another site on this computer: it reads the feed with
# EventSource and fetch, and leaves what it got in window.report.
CONSUMER_PAGE = """<!DOCTYPE html><meta charset="utf-8"><title>consumer</title><script>
const feed = 'http://127.0.0.1:FEED_PORT';
const seqs = [];
let status = null;
const report = why => { window.report = window.report || {why, seqs, status}; };
const stream = new EventSource(feed + '/readings/stream?after=0');
const done = () => { if (seqs.length >= 20 && status) report('readings'); };
stream.addEventListener('reading', e => { seqs.push(JSON.parse(e.data).seq); done(); });
fetch(feed + '/status').then(r => r.json()).then(s => { status = s.link; done(); }, () => { status = 'refused'; });
setTimeout(() => report('time'), 8000);
</script>"""


class PageServer(threading.Thread):
    """Serves CONSUMER_PAGE on a loopback port of its own."""

    def __init__(self):
        super().__init__(daemon=True)
        self.page = b""
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.end_headers()
                self.wfile.write(owner.page)

            def log_message(self, *args):
                pass

        self.server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.origin = f"http://127.0.0.1:{self.server.server_address[1]}"
        self.start()

    def serve_page_of(self, feed_port):
        self.page = CONSUMER_PAGE.replace("FEED_PORT", str(feed_port)).encode()

    def run(self):
        self.server.serve_forever()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class FeedInBrowser(FeedTest):
    def test_a_page_of_an_allowed_origin_gets_the_readings_and_one_of_another_nothing(self):
        allowed, other = PageServer(), PageServer()
        self.addCleanup(allowed.close)
        self.addCleanup(other.close)
        p = self.start_with_feed(Scale(interval=0.02), Allow_Origins=f"http://example.invalid {allowed.origin}")
        for server in (allowed, other):
            server.serve_page_of(self.port)
        self.connect(p)
        reports = []
        for server in (allowed, other):
            browser = Chromium()
            self.addCleanup(browser.close)
            browser.open(server.origin + "/")
            reports.append(browser.wait_for("window.report", 30))
        got, refused = reports
        self.assertEqual(got["why"], "readings")
        self.assertEqual(got["status"], "connected")
        self.assertEqual(got["seqs"][:20], list(range(1, 21)))
        self.assertEqual(refused["seqs"], [], "another origin reads nothing")
        self.assertEqual(refused["status"], "refused")

    def test_over_https_curl_and_chromium_read_the_feed_and_a_plain_client_nothing(self):
        folder = tempfile.mkdtemp(prefix="tarvex-tls-")
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", folder]))
        crt, key = os.path.join(folder, "desk.crt"), os.path.join(folder, "desk.key")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-days", "2", "-subj", "/CN=localhost",
                        "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout", key, "-out", crt],
                       check=True, capture_output=True)
        self.port = free_port()
        p = self.start(Scale(interval=0.2), feed={"Http": f"127.0.0.1:{self.port}", "Certificate": crt, "Key": key})
        url = f"https://127.0.0.1:{self.port}"

        def curl(*args):
            return subprocess.run(["curl", "-sS", "--max-time", "10", *args], capture_output=True, text=True)
        wait_until(lambda: curl("--cacert", crt, url + "/status").returncode == 0, 10, "the feed over HTTPS")
        self.connect(p)
        wait_until(lambda: json.loads(curl("--cacert", crt, url + "/status").stdout)["readings"] >= 3, 15,
                   "three readings")
        latest = json.loads(curl("--cacert", crt, url + "/readings/latest").stdout)
        self.assertGreaterEqual(latest["seq"], 3)
        self.assertNotEqual(curl(url + "/status").returncode, 0, "a certificate nobody vouched for is refused")
        plain = curl(f"http://127.0.0.1:{self.port}/status")
        self.assertFalse(plain.returncode == 0 and '"desk"' in plain.stdout, "no answer without TLS")
        spki = subprocess.run(f"openssl x509 -pubkey -noout -in '{crt}' | openssl pkey -pubin -outform der"
                              " | openssl dgst -sha256 -binary | base64", shell=True, check=True,
                              capture_output=True, text=True).stdout.strip()
        browser = Chromium(trusted_key=spki)
        self.addCleanup(browser.close)
        browser.open(url + "/")
        self.assertTrue(browser.wait_for("document.getElementById('link').textContent.startsWith('Connected')"))
        self.assertTrue(browser.wait_for("document.querySelectorAll('#rows tr').length >= 3"))
        if self.shots_dir:
            browser.screenshot(os.path.join(self.shots_dir, "live-page-https.png"))

    def test_the_live_page_shows_the_newest_weight(self):
        p = self.start_with_feed(Scale(interval=0.2))
        self.connect(p)
        wait_until(lambda: self.status()["readings"] >= 12, 15, "a dozen readings")
        browser = Chromium()
        self.addCleanup(browser.close)
        browser.open(f"http://127.0.0.1:{self.port}/")
        self.assertTrue(browser.wait_for("document.getElementById('link').textContent.startsWith('Connected')"))
        self.disconnect(p)
        newest = json.loads(get(self.port, "/readings/latest")[2])
        shown = f"document.getElementById('weight').textContent === {json.dumps(newest['shown'])}"
        self.assertTrue(browser.wait_for(shown), "the newest weight, large")
        self.assertTrue(browser.wait_for("document.getElementById('link').textContent === 'Not connected'"))
        self.assertEqual(browser.evaluate("document.querySelectorAll('#rows tr').length"), 10, "the last ten readings")
        self.assertEqual(browser.evaluate("document.querySelector('#rows td').textContent"), str(newest["number"]))
        if self.shots_dir:
            browser.screenshot(os.path.join(self.shots_dir, "live-page.png"))

if __name__ == "__main__":
    run_tests()
