"""End-to-end tests of the scales that are asked for their weight (MT-SICS,
Toledo 8217, NCI, ASCII lines): the built program under Xvfb, driven by real
X input, against the scale simulator speaking each protocol on a
pseudo-terminal, and once through ser2net's RFC 2217 port.

    python3 tests/e2e/test_scales.py BUILD_BIN [SHOTS_DIR] [unittest args]"""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (FIND_PROTOCOL, LIVE_STATE, LIVE_WEIGHT, OK, OPEN_CLOSE, PORT_COMBO, SCALE_COMBO, STATUS,  # noqa: E402
                     TARE, WEIGH, ZERO, AskedScale, Program, ProgramTest, run_tests, setting_for, wait_until)
from ser2net import Ser2net  # noqa: E402
from chromium import Chromium  # noqa: E402
from test_feed import EventStream, free_port, get  # noqa: E402

# The scale list's lines, in order.
PROTOCOLS = ["frames", "mt-sics", "toledo", "nci", "ascii"]


class ScalesTest(ProgramTest):
    def label(self, ident):
        return self.program.control(ident)["label"]

    def scale_chosen(self):
        combo = self.program.control(SCALE_COMBO)
        return combo["items"][combo["selection"]]

    def stable_at(self, kilograms):
        """The live weight shown is this one, stable (both read at one look)."""
        weight, state = self.live()
        return state == "stable" and float(weight.split()[0]) == kilograms

    def live(self):
        return self.label(LIVE_WEIGHT), self.label(LIVE_STATE)

    def weigh_parcels(self, p, scale, parcels):
        """Each parcel put on, its row awaited, then taken off."""
        for n, kilograms in enumerate(parcels, 1):
            scale.put(kilograms)
            wait_until(lambda: p.rows() >= n, 5, f"the row of parcel {n}")
            scale.put(0)
            wait_until(lambda: self.stable_at(0), 5, "an empty scale")
        return p.cells()

    def test_each_protocol_chosen_in_the_window_weighs_three_parcels_and_hears_zero_and_tare(self):
        for protocol, unit, parity in (("mt-sics", "kg", False), ("toledo", "kg", True), ("nci", "kg", True),
                                       ("ascii", "kg", False)):
            with self.subTest(protocol):
                scale = AskedScale(protocol, unit, parity_bits=parity)
                # Toledo's wire has no unit: the desk says which its scale weighs in.
                p = self.start(scale, scale_keys={"Unit": "kg"})
                # The clerk picks the scale's protocol, then connects.
                p.choose(SCALE_COMBO, PROTOCOLS.index(protocol))
                self.connect(p)
                wait_until(lambda: self.live()[1] == "stable", 5, "the live weight")
                cells = self.weigh_parcels(p, scale, [1.25, 0.48, 12.0])
                self.assertEqual(len(cells), 3, "one row per parcel")
                self.assertEqual([float(row[1]) for row in cells], [1.25, 0.48, 12.0])
                if parity:
                    # A pty takes no 7E1: read at 8 bits, and said so once.
                    self.assertIn("The line keeps 9600 8N1", self.label(STATUS))
                scale.put(2.5)
                wait_until(lambda: self.stable_at(2.5), 5, "2.5 kg shown")
                # It stood still long enough: a parcel of its own.
                wait_until(lambda: p.rows() == 4, 5, "the fourth row")
                p.shot(f"{protocol}-live")
                if protocol != "ascii":  # a printing scale has no commands unless the desk names them
                    p.click(TARE)
                    wait_until(lambda: "Tared" in self.label(STATUS), 5, "the tare's outcome")
                    p.click(ZERO)
                    wait_until(lambda: "Zeroed" in self.label(STATUS), 5, "the zero's outcome")
                    counts = scale.counts()
                    self.assertEqual((counts["tares"], counts["zeros"], counts["unknown"]), (1, 1, 0))
                else:
                    self.assertFalse(p.control(ZERO)["enabled"])
                self.assertEqual(p.rows(), 4)  # neither the tare nor the zero made a row
                self.program.finish()
                self.program = None
                scale.close()
                self.scale = None

    def test_a_pulled_scale_is_waited_for_and_read_again_in_chinese(self):
        scale = AskedScale("mt-sics", link=os.path.join(self.display_dir(), "scale"))
        p = self.start(scale, language="Chinese", scale_keys={"Protocol": "mt-sics"})
        self.connect(p, label="关闭连接(D)")
        scale.put(0.75)
        wait_until(lambda: p.rows() == 1, 5, "the parcel's row")
        self.assertEqual(self.live(), ("0.750 kg", "稳定"))
        p.shot("chinese-live")
        scale.pull()
        box = p.wait_box("Port:", 5)
        p.click_in_box(box, OK)
        wait_until(lambda: self.live() == ("", ""), 5, "the live weight cleared")
        scale.plug()
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "关闭连接(D)", 10, "the link back by itself")
        wait_until(lambda: self.live()[1] == "稳定", 5, "the live weight again")
        self.assertEqual(p.rows(), 1, "the parcel still on the scale is not a second row")

    def test_seven_bits_even_parity_are_asked_of_the_device_server(self):
        scale = AskedScale("nci", "lb", parity_bits=True)
        self.scale = scale
        server = Ser2net(scale.device, True)
        self.addCleanup(server.close)
        self.program = Program(self.build_bin, self.display, setting_for(server.entry, scale_keys={"Protocol": "nci"}),
                               self.shots_dir, self.id().split(".")[-1])
        p = self.program
        p.wait_main()
        self.connect(p)
        # ser2net takes 7E1 (and the pty behind it hands bit 7 on): the
        # program strips the parity bit, and says nothing of settings kept.
        cells = self.weigh_parcels(p, scale, [2.0])
        self.assertEqual(cells[0][1], "2.000")  # 4.41 lb converted exactly: 2.00034 kg
        self.assertNotIn("keeps", self.label(STATUS))
        p.shot("nci-through-ser2net")

    def test_the_clerk_finds_a_toledo_scales_protocol_and_weighs_with_the_key(self):
        scale = AskedScale("toledo", "kg", parity_bits=True)
        p = self.start(scale, scale_keys={"Unit": "kg", "Take": "key"})
        self.assertEqual(self.scale_chosen(), "Frames (0x5A handshake)")
        p.choose(PORT_COMBO, 1)
        p.click(FIND_PROTOCOL)
        wait_until(lambda: "Found: the scale speaks Toledo 8217" in self.label(STATUS), 20, "the protocol found")
        self.assertEqual(self.scale_chosen(), "Toledo 8217")
        self.assertEqual(p.control(OPEN_CLOSE)["label"], "Disconnect")
        self.assertEqual(scale.counts()["zeros"], 0, "the frames' 0x5A is zero to a Toledo scale")
        scale.put(4.2)
        wait_until(lambda: self.stable_at(4.2), 5, "4.2 kg settled")
        self.assertEqual(p.rows(), 0, "by the key rule nothing is taken by itself")
        p.key("F8")  # the keyboard was on "Find the protocol", disabled as the link opened
        wait_until(lambda: p.rows() == 1, 5, "the row the weigh key took")
        p.click(WEIGH)  # the same weight again, asked again
        wait_until(lambda: p.rows() == 2, 5, "the row the button took")
        self.assertEqual([row[1] for row in p.cells()], ["04.200", "04.200"])
        p.shot("toledo-found-and-weighed")

    def test_the_feed_streams_the_live_weight_as_parcels_come_and_go(self):
        port = free_port()
        scale = AskedScale("mt-sics")
        p = self.start(scale, scale_keys={"Protocol": "mt-sics"}, feed={"Http": f"127.0.0.1:{port}"})
        wait_until(lambda: get(port, "/status")[0] == 200, 10, "the feed to listen")
        self.connect(p)
        stream = EventStream(port, path="/weight/stream")
        self.addCleanup(stream.close)
        browser = Chromium()
        self.addCleanup(browser.close)
        browser.open(f"http://127.0.0.1:{port}/")
        self.weigh_parcels(p, scale, [1.25, 3.5])

        def weights():
            with stream.lock:
                return [json.loads(e["data"]) for e in stream.events if e.get("event") == "weight"]
        seen = [(w["weight"], w["state"]) for w in weights()]
        for parcel in ("1.250", "3.500"):
            self.assertIn((parcel, "stable"), seen)
        self.assertIn("motion", [state for _, state in seen], "the platter swayed as each parcel went on")
        self.assertEqual(seen[-1], ("0.000", "stable"))
        self.assertEqual(json.loads(get(port, "/weight")[2])["weight"], "0.000")
        self.assertEqual([json.loads(r)["kg"] for r in [get(port, "/readings/latest")[2]]], [3.5])
        scale.put(2.25)
        self.assertTrue(browser.wait_for("document.getElementById('liveWeight').textContent === '2.250 kg'"))
        self.assertTrue(browser.wait_for("document.getElementById('liveState').textContent === 'stable'"))
        if self.shots_dir:
            browser.screenshot(os.path.join(self.shots_dir, "live-page-live-weight.png"))

    def display_dir(self):
        import tempfile
        folder = tempfile.mkdtemp(prefix="tarvex-e2e-scale-")
        self.addCleanup(lambda: __import__("shutil").rmtree(folder, ignore_errors=True))
        return folder


if __name__ == "__main__":
    run_tests()
