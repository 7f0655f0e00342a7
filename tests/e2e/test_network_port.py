"""End-to-end tests of a scale behind a serial device server: Debian's
ser2net on loopback, started by the test in front of the scale simulator's
pseudo-terminal, named in Setting.ini as a network port; the built program
is driven under Xvfb as a clerk would.

    python3 tests/e2e/test_network_port.py BUILD_BIN [SHOTS_DIR] [unittest args]"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (NO, OPEN_CLOSE, PORT_COMBO, SAVE, STATUS, UNIT_LB, Program, ProgramTest, Scale, run_tests, setting_for,  # noqa: E402
                     wait_until, weight_frame)
from ser2net import Ser2net, SilentPort  # noqa: E402

# Weights whose raw value has 0xFF bytes (0.255 kg is 00 00 FF, 65.535 kg
# 00 FF FF), and a damaged frame with one: Telnet doubles each on the wire.
FRAMES = [weight_frame(0.255), bytes([0x5F, 0x08, 0x00, 0xFF, 0x00, 0x00]), weight_frame(65.535),
          weight_frame(1.5)]
# The table shows a byte 0xFF as the character of that code, once.
DAMAGED_SHOWN = "Damaged frame:_\\x08\\x00\u00ff\\x00\\x00"


class NetworkPortTest(ProgramTest):
    def setUp(self):
        super().setUp()
        self.server = None

    def tearDown(self):
        super().tearDown()
        if self.server:
            self.server.close()

    def start_behind(self, scale, rfc2217, **setting):
        self.scale = scale
        self.server = Ser2net(scale.device, rfc2217)
        return self.start(scale, **setting)

    def start(self, scale, **setting):
        self.scale = scale
        self.program = Program(self.build_bin, self.display, setting_for(self.server.entry, **setting),
                               self.shots_dir, self.id().split(".")[-1])
        self.program.wait_main()
        return self.program

    def status(self):
        return self.program.control(STATUS)["label"]

    def check_readings(self, p, count):
        wait_until(lambda: p.rows() >= count, 15, f"{count} readings")
        cells = p.cells()
        self.assertEqual([int(row[0]) for row in cells], list(range(1, len(cells) + 1)), "a reading twice or lost")
        return cells

    def test_readings_through_the_device_server_survive_its_restart(self):
        p = self.start_behind(Scale(frames=FRAMES, interval=0.1), rfc2217=True)
        self.connect(p)
        wait_until(lambda: f"Connected to COM1 ({self.server.address})" in self.status(), 5, "the address shown")
        cells = self.check_readings(p, 8)
        self.assertEqual(float(cells[0][1]), 0.255)
        self.assertEqual(float(cells[2][1]), 65.535)
        self.assertEqual(cells[1][5], DAMAGED_SHOWN, "the damaged frame's 0xFF")
        p.shot("through-ser2net")

        # The server goes away: one report, the rows stay, the port is watched.
        self.server.stop()
        wait_until(lambda: f"Waiting for COM1 ({self.server.address}) to come back..." in self.status(), 15,
                   "the watch")
        report = "Port: 1 (" + self.server.address + ")"
        p.wait_box(report, 5)
        self.assertEqual(len(p.boxes()), 1)
        rows = p.rows()
        # The acknowledge of a frame that crossed just as the server went may
        # have gone down with it: the reading is kept, the scale never heard.
        lost = rows - self.scale.acks
        self.assertIn(lost, (0, 1), "a row without its acknowledge before the cut")
        p.shot("device-server-gone")
        self.server.start()
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Disconnect", 5, "the link back")
        p.wait_no_box(report, 5)  # the report goes as the link returns
        cells = self.check_readings(p, rows + 4)
        # Every frame acknowledged once is one row: nothing said twice.
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] != "Disconnect", 5, "the disconnect")
        wait_until(lambda: self.scale.stops >= 1, 5, "the scale hearing 0x3A")
        self.assertEqual(p.rows(), self.scale.acks + lost)
        p.shot("after-restart")

    def test_frames_that_arrive_in_pieces_through_the_device_server_stay_whole(self):
        # Pieces of one frame 120 ms apart: longer than a local line's quiet
        # time, as a network hop on a busy machine delivers them.
        p = self.start_behind(Scale(frames=FRAMES, interval=0.05, piece_gap_ms=120, limit=4), rfc2217=True)
        self.connect(p)
        cells = self.check_readings(p, 4)
        self.assertEqual([float(cells[i][1]) for i in (0, 2, 3)], [0.255, 65.535, 1.5])
        self.assertEqual(cells[1][5], DAMAGED_SHOWN)
        self.assertEqual(p.rows(), 4, "a piece judged on its own")

    def test_raw_tcp_readings_and_the_stop_byte(self):
        p = self.start_behind(Scale(frames=FRAMES, interval=0.05), rfc2217=False)
        self.connect(p)
        self.check_readings(p, 6)
        p.click(UNIT_LB)
        wait_until(lambda: p.cells()[0][2] == "LB", 5, "the table in pounds")
        p.click(OPEN_CLOSE)
        wait_until(lambda: self.scale.stops == 1, 5, "the scale hearing 0x3A")
        self.assertEqual(p.rows(), self.scale.acks)
        self.assertEqual(p.cells()[1][5], DAMAGED_SHOWN)
        # Saved as any table is.
        p.click(SAVE)
        target = os.path.join(p.home, "through-the-network")
        p.save_as(target)
        p.click_in_box(p.wait_box("Clear the readings shown", 10), NO)
        wait_until(lambda: os.path.exists(target + ".xls"), 10, "the workbook")
        self.assertIn(f"readings to {target}.xls", self.status())
        # The server gone since the list was made: told at once, as a silent scale.
        self.server.stop()
        p.click(OPEN_CLOSE)
        p.wait_box("The scale did not answer on this port", 3)
        p.shot("server-gone-before-connect")

    def test_silent_addresses_leave_the_server_that_answers_in_the_list(self):
        silent = [SilentPort() for _ in range(2)]
        self.addCleanup(lambda: [s.close() for s in silent])
        self.scale = Scale(frames=FRAMES, interval=0.1)
        self.server = Ser2net(self.scale.device, True)
        setting = setting_for(self.server.entry, language="Chinese") + (
            f"COM2={silent[0].entry}\r\nCOM3=socket://127.0.0.1:1\r\nCOM4={silent[1].entry}\r\n")
        self.program = p = Program(self.build_bin, self.display, setting, self.shots_dir, "silent-addresses")
        p.wait_main()
        self.assertEqual(p.control(PORT_COMBO)["items"][1:], ["COM1"])  # the only one that answered
        self.connect(p, label="关闭连接(D)")
        self.check_readings(p, 2)
        self.assertIn(f"已连接 COM1 ({self.server.address})", self.status())
        p.shot("network-port-chinese")


if __name__ == "__main__":
    run_tests()
