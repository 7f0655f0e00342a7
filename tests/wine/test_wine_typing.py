"""The installed Windows program types under Wine: another Windows program
of our own (tarvex-text-field.exe, one edit control) has the keyboard, and
every weight that arrives meanwhile reaches its field through SendInput,
each followed by Enter; while the program's own window has the keyboard,
nothing is typed.

    python3 tests/wine/test_wine_typing.py INSTALLED_EXE SHOTS_DIR TEXT_FIELD_EXE"""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_wine_program  # noqa: E402
from harness import STATUS, wait_until  # noqa: E402
from test_wine_program import WineReadsAScale, write_user_settings, x_windows_named  # noqa: E402

TEXT_FIELD = None


class WineTyping(WineReadsAScale):
    def setUp(self):
        self.settings = write_user_settings("[Wedge]\r\nEnabled=1\r\n")
        drive_c = os.path.join(os.environ["WINEPREFIX"], "drive_c")
        self.field_file = os.path.join(drive_c, "tarvex-typing", "field.txt")
        os.makedirs(os.path.dirname(self.field_file), exist_ok=True)
        if os.path.exists(self.field_file):
            os.remove(self.field_file)
        super().setUp()
        self.field = None

    def tearDown(self):
        if self.field:
            self.field.kill()
            self.field.wait()
        super().tearDown()
        for setting in self.settings:
            os.remove(setting)

    def field_text(self):
        try:
            with open(self.field_file, encoding="utf-8") as f:
                return f.read()
        except OSError:
            return ""

    def test_weights_are_typed_into_another_windows_program(self):
        p = self.wait_main()
        self.field = subprocess.Popen(["wine", TEXT_FIELD, "C:\\tarvex-typing\\field.txt"], env=self.display.env(),
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        field_window = wait_until(lambda: x_windows_named(self.display, "Text field"), 60, "the text field")[0]
        wait_until(lambda: os.path.exists(self.field_file), 30, "the text field's file")
        self.connect()
        self.readings(3)
        wait_until(lambda: "Not typed: this window has the keyboard" in p.control(STATUS)["label"], 15,
                   "the own-window note")
        self.assertEqual(self.field_text(), "")
        subprocess.run(["xdotool", "windowactivate", "--sync", str(field_window)], env=self.display.env(), check=True)
        wait_until(lambda: self.field_text().count("\n") >= 10, 30, "ten weights in the field")
        wait_until(lambda: "Last typed: " in p.control(STATUS)["label"], 15, "the last weight in the status line")
        p.shot("typed")
        self.disconnect()
        weights = [cells[1].replace(" ", "") for cells in p.cells() if re.fullmatch(r"-?[0-9.: ]+", cells[1])]
        typed = self.field_text().split("\n")[:-1]
        # A run of the table's weights, in order, each followed by Enter.
        self.assertTrue(any(weights[k:k + len(typed)] == typed for k in range(len(weights))), (typed, weights))


if __name__ == "__main__":
    TEXT_FIELD = sys.argv.pop(3)

    class Arguments:
        installed, shots, modem_lines = sys.argv[1], sys.argv[2], None
    test_wine_program.ARGS = Arguments
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2,
                  defaultTest="WineTyping.test_weights_are_typed_into_another_windows_program")
