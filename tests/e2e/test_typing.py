"""End-to-end tests of typing weights into the program in front: a second,
independent program (a Tk text field, tests/e2e/text_field.py) has the
keyboard under openbox, and the built program, connected to the scale
simulator, types into it with real X input (XTEST). What the field holds
is compared with the table's weight cells.

    python3 tests/e2e/test_typing.py BUILD_BIN [SHOTS_DIR] [unittest args]"""

import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (OK, STATUS, TYPING, UNIT_LBOZ, Display, Program, ProgramTest,  # noqa: E402
                     Scale, run_tests, setting_for, wait_until)

FIELD_PROGRAM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "text_field.py")
# Weights, an overweight report and a damaged frame, in turn.
SCRIPT = "good:1.234,over,damaged,good:-2.7197,good:0.75"


class TextField:
    """The other program, with its text as a file."""

    def __init__(self, display):
        self.display = display
        self.folder = tempfile.mkdtemp(prefix="tarvex-field-")
        self.path = os.path.join(self.folder, "field.txt")
        self.process = subprocess.Popen([sys.executable, FIELD_PROGRAM, self.path], env=display.env(),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.xid = wait_until(lambda: display.xdotool("search", "--class", "TextField").split(), 10,
                              "the text field's window")[-1]
        wait_until(lambda: os.path.exists(self.path), 10, "the text field")

    def text(self):
        with open(self.path, encoding="utf-8") as f:
            return f.read()

    def activate(self):
        """The field's window comes to the front and has the keyboard. The
        window manager is asked again while it has not done so: one busy
        with a keyboard mapping just changed (xmodmap tells every client)
        may leave no window active for a moment."""
        def ask():
            # Asked through the window manager, after whatever it has not
            # handled yet (a click on another window just before).
            try:
                subprocess.run(["xdotool", "windowactivate", "--sync", self.xid], env=self.display.env(),
                               capture_output=True, timeout=5)
            except subprocess.TimeoutExpired:
                pass
            return time.monotonic()

        asked = [ask()]

        def in_front():
            if self.display.xdotool("getactivewindow").strip() == self.xid:
                return True
            if time.monotonic() - asked[0] > 2:
                asked[0] = ask()
            return False
        wait_until(in_front, 10, "the field in front")

    def close(self):
        self.process.terminate()
        self.process.wait(5)
        for name in os.listdir(self.folder):
            os.remove(os.path.join(self.folder, name))
        os.rmdir(self.folder)


class TypingTest(ProgramTest):
    def setUp(self):
        self.display = Display(window_manager=True)
        self.program = None
        self.scale = None
        self.field = None

    def tearDown(self):
        super().tearDown()  # the last screenshot shows the field too
        if self.field:
            self.field.close()

    def begin(self, wedge=None, limit=1):
        """The field, then the program connected to a scale held at limit frames."""
        self.field = TextField(self.display)
        p = self.start(Scale(script=SCRIPT, interval=0.05, limit=limit), wedge=wedge)
        return p

    def connect_and_wait(self, p, rows):
        self.connect(p)
        wait_until(lambda: p.rows() == rows, 10, f"{rows} rows")

    def status(self, p):
        return p.control(STATUS)["label"]

    def typed_weights(self, p, first_row, suffix="\n"):
        """The weight cells from the row on, as typed: without blanks, each
        followed by the suffix."""
        return "".join(cells[1].replace(" ", "") + suffix for cells in p.cells()[first_row:]
                       if re.fullmatch(r"-?[0-9.: ]+", cells[1]))

    def setting(self, p):
        with open(os.path.join(p.folder, "Setting.ini"), encoding="utf-8-sig") as f:
            return f.read()

    def test_ticked_box_types_each_weight_into_the_field_in_front(self):
        p = self.begin()
        self.assertFalse(p.control(TYPING)["checked"])
        p.click(TYPING)
        wait_until(lambda: p.control(TYPING)["checked"], 5, "the box ticked")
        self.assertIn("Enabled=1", self.setting(p))
        wait_until(lambda: "Typing into the program in front" in self.status(p), 5, "the typing note")
        # The first weight comes while this window has the keyboard.
        self.connect_and_wait(p, 1)
        wait_until(lambda: "Not typed: this window has the keyboard" in self.status(p), 5, "the own-window note")
        self.field.activate()
        self.assertEqual(self.field.text(), "")
        self.scale.allow(11)
        wait_until(lambda: p.rows() == 11, 10, "eleven rows")
        expected = self.typed_weights(p, 1)
        self.assertEqual(expected.count("\n"), 6)  # overweight and damaged rows are not typed
        wait_until(lambda: self.field.text() == expected, 10, f"the field to hold {expected!r}",)
        last = expected.split("\n")[-2]
        wait_until(lambda: f"Last typed: {last}" in self.status(p), 5, "the last weight in the status line")
        p.shot("typed")
        # Unticked: nothing more is typed, and the choice is remembered.
        p.click(TYPING)
        wait_until(lambda: not p.control(TYPING)["checked"], 5, "the box unticked")
        self.assertIn("Enabled=0", self.setting(p))
        self.field.activate()
        self.scale.allow(16)
        wait_until(lambda: p.rows() == 16, 10, "sixteen rows")
        self.assertEqual(self.field.text(), expected)
        wait_until(lambda: "Typing into" not in self.status(p), 5, "the typing note gone")

    def test_weights_arrive_whole_whatever_the_keyboard_layout(self):
        p = self.begin(wedge={"Enabled": 1, "Suffix": "Tab"})
        self.connect_and_wait(p, 1)
        allowed = 1
        expected = ""
        layouts = [["setxkbmap", "fr"], ["setxkbmap", "de"],
                   # No "." or ":" on the keyboard: they go on a spare keycode.
                   ["xmodmap", "-e", "keysym period = ", "-e", "keysym colon = "]]
        for step, command in enumerate(layouts):
            with self.subTest(layout=" ".join(command)):
                subprocess.run(command, env=self.display.env(), check=True)
                if step == 2:
                    p.click(UNIT_LBOZ)  # "2:11.5": a colon too
                self.field.activate()
                # More on spare keycodes than there are spare keycodes.
                frames = 60 if step == 2 else 5
                allowed += frames
                self.scale.allow(allowed)
                wait_until(lambda: p.rows() == allowed, 10, f"{allowed} rows")
                # In the unit shown when each was typed.
                expected += self.typed_weights(p, allowed - frames, "\t")
                # Every spare keycode remapped is told to every X client: on a
                # busy machine sixty weights take a while.
                wait_until(lambda: self.field.text() == expected, 30, f"the field to hold {expected!r}")
        self.assertIn(":", self.field.text())
        p.shot("layouts")
        # Typing switched off, the spare keycodes are given back.
        p.click(TYPING)

        def keymap():
            return subprocess.run(["xmodmap", "-pke"], env=self.display.env(), capture_output=True, text=True).stdout
        wait_until(lambda: not re.search(r"\b(period|colon)\b", keymap()), 5, "the spare keycodes empty again")
        # One spare keycode left, and "2:11.5" lacks two keys: none of it is typed.
        spare = re.findall(r"^keycode +(\d+) =\s*$", keymap(), re.M)
        self.assertGreater(len(spare), 1)
        subprocess.run(["xmodmap"] + [arg for code in spare[1:] for arg in ("-e", f"keycode {code} = F35")],
                       env=self.display.env(), check=True)
        p.click(TYPING)
        wait_until(lambda: p.control(TYPING)["checked"], 5, "the box ticked again")
        typed = self.field.text()
        self.field.activate()
        allowed += 5  # one round of the script: the last is a weight
        self.scale.allow(allowed)
        wait_until(lambda: p.rows() == allowed, 10, f"{allowed} rows")
        wait_until(lambda: "Not typed: the desktop refused the keys" in self.status(p), 10, "the refusal told")
        self.assertEqual(self.field.text(), typed, "no part of the weight typed")

    def test_a_held_modifier_delays_typing_and_fires_nothing(self):
        p = self.begin(wedge={"Enabled": 1})
        self.connect_and_wait(p, 1)
        self.field.activate()
        # Held past the limit: the weight is not typed, and the line says why.
        self.display.xdotool("keydown", "shift")
        self.scale.allow(4)  # an overweight report, a damaged frame, a weight
        wait_until(lambda: "Not typed: Shift, Ctrl, Alt or the Windows key" in self.status(p), 10, "the held note")
        self.assertEqual(self.field.text(), "")
        # Held while a weight arrives, let go at once: the weight follows.
        self.scale.allow(5)
        wait_until(lambda: p.rows() == 5, 10, "five rows")
        self.display.xdotool("keyup", "shift")
        expected = self.typed_weights(p, 4)
        self.assertEqual(expected.count("\n"), 1)
        wait_until(lambda: self.field.text() == expected, 10, f"the field to hold {expected!r}")

    def test_on_key_the_newest_weight_is_typed_when_f9_is_pressed(self):
        p = self.begin(wedge={"Enabled": 1, "On": "Key"})
        wait_until(lambda: "Typing into the program in front on F9" in self.status(p), 5, "the typing note")
        self.connect_and_wait(p, 1)
        self.field.activate()
        self.scale.allow(4)
        wait_until(lambda: p.rows() == 4, 10, "four rows")
        self.assertEqual(self.field.text(), "")
        self.display.xdotool("key", "F9")
        newest = self.typed_weights(p, 3)
        wait_until(lambda: self.field.text() == newest, 10, f"the field to hold {newest!r}")
        # Once only.
        self.display.xdotool("key", "F9")
        wait_until(lambda: "Not typed: the newest weight was typed already" in self.status(p), 5, "the note")
        self.assertEqual(self.field.text(), newest)


class TypingBoxShown(ProgramTest):
    """The window with the check box in both languages, on a small and a
    large screen: the box lies whole in the window, clear of the others."""

    def test_check_box_in_both_languages(self):
        for language, words in (("English", "Type weights into the program in front"), ("Chinese", "将重量输入到前台程序")):
            for screen in ((800, 600), (1920, 1080)):
                with self.subTest(language=language, screen=screen):
                    display = Display(window_manager=True, size=f"{screen[0]}x{screen[1]}x24")
                    p = Program(self.build_bin, display, setting_for("/nonexistent/tty", language=language),
                                self.shots_dir, f"typing-box-{language}-{screen[0]}")
                    try:
                        window = p.wait_main()
                        p.click_in_box(p.wait_box(None, 10), OK)  # the no-port notice
                        box = p.control(TYPING)
                        self.assertTrue(box["label"].startswith(words), box["label"])
                        x, y, w, h = box["rect"]
                        wx, wy, ww, wh = p.main()["rect"]
                        self.assertTrue(wx <= x and x + w <= wx + ww and wy <= y and y + h <= wy + wh)
                        for other in p.main()["controls"]:
                            if other["id"] in (TYPING, STATUS) or other["class"] == "wxStaticBox":
                                continue
                            ox, oy, ow, oh = other["rect"]
                            self.assertFalse(ox < x + w and x < ox + ow and oy < y + h and y < oy + oh,
                                             f"the box overlaps {other['id']}")
                        p.shot("window")
                    finally:
                        p.finish()
                        display.close()

    def test_a_wayland_session_disables_the_box_and_says_why(self):
        display = Display(window_manager=True)
        p = Program(self.build_bin, display, setting_for("/nonexistent/tty"), self.shots_dir, "typing-wayland")
        try:
            p.kill()
            # No compositor answers there: the toolkit falls back to X, the
            # program still sees a Wayland session.
            p.extra_env = {"WAYLAND_DISPLAY": "wayland-absent"}
            p.start()
            p.wait_main()
            p.click_in_box(p.wait_box(None, 10), OK)  # the no-port notice
            box = wait_until(lambda: (p.control(TYPING) or {}).get("tooltip") and p.control(TYPING), 10,
                             "the check box with its tooltip")
            self.assertFalse(box["enabled"])
            self.assertIn("Wayland", box.get("tooltip", ""))
        finally:
            p.finish()
            display.close()


if __name__ == "__main__":
    run_tests()
