"""The installed Windows program's feed under Wine: a Linux client reads
every reading through the HTTP stream on loopback, and the live CSV file
waits while another Windows program holds it without sharing, then gets
every line once, in order.

    python3 tests/wine/test_wine_feed.py INSTALLED_EXE SHOTS_DIR HOLD_FILE_EXE"""

import csv
import json
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_wine_program  # noqa: E402
from harness import STATUS, wait_until  # noqa: E402
from test_feed import EventStream, free_port, get  # noqa: E402
from test_wine_program import WineReadsAScale, write_user_settings  # noqa: E402

HOLD_FILE = None


class WineFeed(WineReadsAScale):
    def setUp(self):
        self.port = free_port()
        drive_c = os.path.join(os.environ["WINEPREFIX"], "drive_c")
        self.csv_file = os.path.join(drive_c, "tarvex-feed", "weights.csv")
        os.makedirs(os.path.dirname(self.csv_file), exist_ok=True)
        if os.path.exists(self.csv_file):
            os.remove(self.csv_file)
        self.settings = write_user_settings(
            f"[Feed]\r\nHttp=127.0.0.1:{self.port}\r\nCsv_File=C:\\tarvex-feed\\weights.csv\r\n")
        super().setUp()

    def tearDown(self):
        super().tearDown()
        for setting in self.settings:
            os.remove(setting)

    def csv_seqs(self):
        with open(self.csv_file, encoding="utf-8-sig", newline="") as f:
            return [int(row[1]) for row in list(csv.reader(f))[1:]]

    def test_a_linux_client_reads_the_stream_and_the_csv_file_waits_for_a_holder(self):
        p = self.wait_main()
        wait_until(lambda: self.feed_answers(), 30, "the feed on loopback")
        stream = EventStream(self.port, last_id=0)
        self.addCleanup(stream.close)
        self.connect()
        self.readings(10)
        holder = subprocess.Popen(["wine", HOLD_FILE, "C:\\tarvex-feed\\weights.csv"], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.assertEqual(holder.stdout.readline().strip(), "held")
        held_at = len(self.csv_seqs())
        wait_until(lambda: "CSV file not written" in p.control(STATUS)["label"], 15, "the status line to say so")
        self.readings(20)
        p.shot("csv-held")
        self.assertLessEqual(len(self.csv_seqs()), held_at + 1)
        holder.stdin.close()
        holder.wait(30)
        wait_until(lambda: "CSV file written again" in p.control(STATUS)["label"], 15, "the file back")
        self.disconnect()
        acknowledged = self.scale.acks
        wait_until(lambda: len(stream.seqs()) >= acknowledged, 15, "the stream to catch up")
        self.assertEqual(stream.seqs(), list(range(1, acknowledged + 1)))
        wait_until(lambda: len(self.csv_seqs()) >= acknowledged, 15, "every waiting line")
        self.assertEqual(self.csv_seqs(), list(range(1, acknowledged + 1)))
        newest = json.loads(get(self.port, "/readings/latest")[2])
        self.assertEqual(newest["seq"], acknowledged)
        self.assertRegex(newest["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")

    def feed_answers(self):
        try:
            return get(self.port, "/status")[0] == 200
        except OSError:
            return False


if __name__ == "__main__":
    HOLD_FILE = sys.argv.pop(3)

    class Arguments:
        installed, shots, modem_lines = sys.argv[1], sys.argv[2], None
    test_wine_program.ARGS = Arguments
    # Only this flow: the ones it takes its set-up from run in their own file.
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2,
                  defaultTest="WineFeed.test_a_linux_client_reads_the_stream_and_the_csv_file_waits_for_a_holder")
