"""The box gallery (tarvex-box-gallery) driven as a user answers boxes: each
box it shows is checked, photographed and answered with Return. Used by the
clerk's tests here and by the Windows build's tests under Wine."""

import os
import subprocess
import tempfile

from harness import PATIENCE, Program, steady, wait_until


class BoxGallery(Program):
    """Every box of the program in turn, in one language; under Wine when
    the gallery given is the Windows build."""

    def __init__(self, executable, display, language, shots_dir, name):
        self.home = tempfile.mkdtemp(prefix="tarvex-e2e-gallery-")
        self.folder = None
        self.executable = executable
        self.wine = executable.endswith(".exe")
        self.watch(display, shots_dir, name)
        language_file = os.path.join(os.path.dirname(executable), "Language", language + ".ini")
        self.arguments = [windows_path(language_file) if self.wine else language_file]
        self.start()

    def start(self):
        if not self.wine:
            super().start()
            return
        env = self.display.env()
        env["TARVEX_UI_PROBE"] = windows_path(self.probe_file)
        self.process = subprocess.Popen(["wine", self.executable, *self.arguments],
                                        cwd=os.path.dirname(self.executable), env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def keyboard_window(self):
        """The X window that has the keyboard now, and its title."""
        window = self.display.xdotool("getwindowfocus").strip()
        return window, self.display.xdotool("getwindowname", window).strip() if window else ""

    def announced(self):
        """How many boxes the gallery will show, as it says first."""
        return int(self.process.stdout.readline().decode().split("boxes:")[1])


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def identity(window):
    return window["title"], tuple(c["label"] for c in window["controls"])


def next_keyboard(gallery, box, last):
    """The window holding the keyboard, once it is not the last box's and
    bears this box's title."""
    window, title = gallery.keyboard_window()
    return window if window != last and title == box["title"] else None


def inside(rect, area):
    x, y, w, h = rect
    ax, ay, aw, ah = area
    return ax <= x and ay <= y and x + w <= ax + aw and y + h <= ay + ah


def check_box(test, program, box, label, screen):
    """Every text of the box shows whole (as tall as the toolkit draws it at
    its width), the box lies on the screen, and every control inside it."""
    program.shot(label)
    for control in box["controls"]:
        test.assertTrue(control.get("fits", True), f"{label}: {control['label']!r} is cut off")
        test.assertNotIn("{", control["label"], f"{label}: a placeholder left")
        test.assertTrue(inside(control["rect"], box["client"]), f"{label}: {control}")
    x, y, w, h = box["rect"]
    test.assertTrue(x >= 0 and y >= 0 and x + w <= screen[0] and y + h <= screen[1], f"{label}: {box['rect']}")


def answer_every_box(test, gallery, label, screen):
    """Checks and answers each box; returns how many there were."""
    count = gallery.announced()
    test.assertGreater(count, 20)
    last = None
    keyboard = None
    for n in range(1, count + 1):
        def find():
            return next((w for w in gallery.windows() if identity(w) != last), None)
        box = steady(find, wait_until(find, 10, f"box {n} of {count}"))
        check_box(test, gallery, box, f"{label} box {n}", screen)
        test.assertTrue(all(c.get("fits") is not None for c in box["controls"] if c["class"] == "wxStaticText"),
                        f"{label} box {n}: no measure of its texts")
        last = identity(box)
        if box["xid"]:
            gallery.focus(box)
        else:
            # Wine lists a box as soon as it is shown, a moment before its X
            # window has the keyboard; a key sent then is lost with the last
            # box's window. Each box has a window of its own.
            keyboard = wait_until(lambda: next_keyboard(gallery, box, keyboard), 10, f"the keyboard on box {n}")
        gallery.key("Return")
    test.assertEqual(gallery.process.wait(10 * PATIENCE), 0)
    return count
