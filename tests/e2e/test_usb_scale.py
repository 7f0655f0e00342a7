"""End-to-end tests of USB postal scales: the built program under Xvfb,
driven by real X input, reading the simulator's USB scale laid out as Linux
shows one (a report descriptor and name in sys/class/hidraw, a pipe for the
node in dev) under the folder TARVEX_HID_ROOT names.

    python3 tests/e2e/test_usb_scale.py BUILD_BIN [SHOTS_DIR] [unittest args]"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (LIVE_STATE, LIVE_WEIGHT, OK, OPEN_CLOSE, PORT_COMBO, ZERO, Program, ProgramTest,  # noqa: E402
                     UsbScale, run_tests, setting_for, wait_until)


class UsbScaleTest(ProgramTest):
    def start_with(self, scale):
        """The program with no COM port at all: only the USB scale."""
        self.scale = scale
        self.program = Program(self.build_bin, self.display, setting_for(""), self.shots_dir,
                               self.id().split(".")[-1], env={"TARVEX_HID_ROOT": scale.root})
        self.program.wait_main()
        return self.program

    def live(self):
        return self.program.control(LIVE_WEIGHT)["label"], self.program.control(LIVE_STATE)["label"]

    def weigh(self, p, kilograms, rows):
        self.scale.put(kilograms)
        wait_until(lambda: p.rows() == rows, 5, f"row {rows}")
        self.scale.put(0)
        wait_until(lambda: self.live() == ("0.000 kg", "stable"), 5, "an empty scale")

    def test_a_usb_scale_is_listed_by_name_weighs_parcels_and_comes_back_when_plugged_in_again(self):
        p = self.start_with(UsbScale("kg"))
        self.assertEqual(p.control(PORT_COMBO)["items"][1:], [UsbScale.NAME])
        self.connect(p)
        wait_until(lambda: self.live()[1] == "stable", 5, "the live weight")
        # Its descriptor offers no zero.
        self.assertFalse(p.control(ZERO)["enabled"])
        for n, kilograms in enumerate([1.25, 0.48, 12.0], 1):
            self.weigh(p, kilograms, n)
        self.assertEqual([float(row[1]) for row in p.cells()], [1.25, 0.48, 12.0])
        self.scale.put(2.5)
        wait_until(lambda: self.live() == ("2.500 kg", "stable"), 5, "2.5 kg shown")
        wait_until(lambda: p.rows() == 4, 5, "its row")
        p.shot("usb-live")
        # Switched off (or pulled): one report naming it, and the rows stay.
        self.scale.pull()
        box = p.wait_box(UsbScale.NAME, 5)
        p.shot("usb-pulled")
        p.click_in_box(box, OK)
        self.assertEqual(p.rows(), 4)
        # Back at the same place under another node: the link is back by itself.
        self.scale.plug()
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Disconnect", 10, "the link back")
        self.weigh(p, 0.75, 5)
        self.assertEqual(len(p.boxes()), 0, "one report only")

    def test_the_packages_udev_rule_picks_scales_by_their_descriptor(self):
        """The rule's PROGRAM, run by sh as udev runs it, on the simulator's
        scale and on a keyboard's descriptor."""
        rules = os.path.join(os.path.dirname(__file__), "..", "..", "packaging", "60-tarvex-usb-scale.rules")
        with open(rules, encoding="utf-8") as f:
            rule = next(line for line in f if line.startswith("SUBSYSTEM"))
        program = re.search(r'PROGRAM="(.*?)"', rule).group(1)
        self.scale = UsbScale("kg")
        scale_device = os.path.join(self.scale.root, "sys/class/hidraw/hidraw1")
        keyboard = tempfile.mkdtemp(prefix="tarvex-keyboard-")
        os.makedirs(os.path.join(keyboard, "device"))
        with open(os.path.join(keyboard, "device", "report_descriptor"), "wb") as f:
            f.write(bytes([0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0xC0]))
        for devpath, matches in ((scale_device, True), (keyboard, False)):
            # udev puts the device's path under /sys in place of $devpath.
            command = program.replace("/sys$devpath", devpath)
            self.assertEqual(subprocess.run(["sh", "-c", command[len("/bin/sh -c '"):-1]]).returncode == 0, matches)
        shutil.rmtree(keyboard)

    @unittest.skipIf(os.geteuid() == 0, "root opens any node: runs as an ordinary user")
    def test_a_scale_this_user_may_not_open_is_listed_with_the_reason_and_the_rule(self):
        scale = UsbScale("kg")
        os.chmod(scale.device, 0o000)
        p = self.start_with(scale)
        self.assertEqual(p.control(PORT_COMBO)["items"][1:], [UsbScale.NAME + " (not allowed to open)"])
        p.choose(PORT_COMBO, 1)
        p.click(OPEN_CLOSE)
        box = p.wait_box("may not open it", 5)
        text = p.box_text(box)
        self.assertIn("Permission denied", text)
        self.assertIn('TAG+="uaccess"', text)
        p.shot("usb-not-allowed")
        p.click_in_box(box, OK)
        self.assertEqual(p.control(OPEN_CLOSE)["label"], "Connect")


if __name__ == "__main__":
    run_tests()
