"""The installed Windows program reading an MT-SICS balance under Wine: COM9
of the prefix is the simulator's pseudo-terminal, the protocol is chosen in
the user's Setting.ini, the window is driven with real X input.

    python3 tests/wine/test_wine_scales.py INSTALLED_EXE SHOTS_DIR"""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_wine_program  # noqa: E402
from harness import LIVE_STATE, LIVE_WEIGHT, STATUS, TARE, AskedScale, wait_until  # noqa: E402
from test_wine_program import WineReadsAScale, write_user_settings  # noqa: E402


class WineMtSics(WineReadsAScale):
    def setUp(self):
        self.settings = write_user_settings("[Scale]\r\nProtocol=mt-sics\r\n")
        super().setUp()

    def tearDown(self):
        super().tearDown()
        for setting in self.settings:
            os.remove(setting)

    def make_scale(self):
        return AskedScale("mt-sics", link=self.link)

    def live(self):
        p = self.program
        return p.control(LIVE_WEIGHT)["label"], p.control(LIVE_STATE)["label"]

    def test_three_parcels_three_rows_and_a_tare(self):
        p = self.wait_main()
        self.connect()
        for n, kilograms in enumerate([1.25, 0.48, 12.0], 1):
            self.scale.put(kilograms)
            wait_until(lambda: p.rows() == n, 10, f"the row of parcel {n}")
            self.scale.put(0)
            wait_until(lambda: self.live() == ("0.000 kg", "stable"), 10, "an empty scale")
        self.assertEqual([row[1] for row in p.cells()], ["1.250", "0.480", "12.000"])
        self.scale.put(0.3)
        wait_until(lambda: self.live() == ("0.300 kg", "stable"), 10, "the box on the scale")
        p.shot("wine-mt-sics")
        p.click(TARE)
        wait_until(lambda: "Tared" in p.control(STATUS)["label"], 10, "the tare's outcome")
        self.assertEqual(self.scale.counts()["tares"], 1)
        self.assertEqual(self.scale.counts()["unknown"], 0)  # no frames' byte ever reached it
        self.assertEqual(len(self.watch.seen), 0, "an Application Error box")


if __name__ == "__main__":
    class Arguments:
        installed, shots, modem_lines = sys.argv[1], sys.argv[2], None
    test_wine_program.ARGS = Arguments
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2,
                  defaultTest="WineMtSics.test_three_parcels_three_rows_and_a_tare")
