"""End-to-end test of a program whose settings or language file gives no
texts: every control and box still has its English words, and the clerk is
told once which file could not be read.

    python3 tests/e2e/test_unreadable_files.py BUILD_BIN [SHOTS_DIR] [unittest args]"""

import os
import sys
import time
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (CLEAR, LANGUAGE_COMBO, OK, OPEN_CLOSE, SAVE, STATUS, YES, NO, Display, Program, Scale,  # noqa: E402
                     setting_for)

BUILD_BIN = None
SHOTS_DIR = None

_ROW = b"R\t0\tW\t1.25\t1796565787\t       1\t1.2500\tKG\t00:00:07\t14:03:07 12/06/2026\t\t"
ONE_ROW_JOURNAL = b"TARVEX-SCALE-JOURNAL\t1\n" + _ROW + f"{zlib.crc32(_ROW):08X}\n".encode()


class UnreadableFiles(unittest.TestCase):
    def setUp(self):
        self.display = Display()
        self.scale = Scale(interval=0.1)

    def tearDown(self):
        self.scale.close()
        self.display.close()

    def test_every_control_and_box_has_english_words(self):
        good = setting_for(self.scale.device)
        cases = [
            ("missing", lambda folder: os.remove(os.path.join(folder, "Setting.ini")), "No such file"),
            ("random-bytes", lambda folder: self.write(folder, "Setting.ini", os.urandom(4096)), "none of the texts"),
            ("five-mb", lambda folder: self.write(folder, "Setting.ini", good.encode() + b";" * 5_000_000),
             "larger than 1 MiB"),
            ("utf16-without-mark", lambda folder: self.write(folder, "Setting.ini", good.encode("utf-16-le")),
             "none of the texts"),
            ("a-folder", self.setting_folder, "Is a directory"),
            ("empty-english", lambda folder: self.write(folder, os.path.join("Language", "English.ini"), b""),
             "none of the texts"),
        ]
        for name, spoil, reason in cases:
            with self.subTest(name):
                p = Program(BUILD_BIN, self.display, good, SHOTS_DIR, f"unreadable-{name}")
                try:
                    p.kill()
                    spoil(p.folder)
                    p.start()
                    box = p.wait_box("could not be read", 10)
                    p.shot("notice")
                    self.assertIn(reason, p.box_text(box))
                    self.assertEqual(p.control(OK, box)["label"], "OK")
                    p.click_in_box(box, OK)
                    p.wait_no_box("could not be read")
                    # Without a readable Setting.ini no port is mapped: that notice follows.
                    for other in p.boxes():
                        p.click_in_box(other, OK)
                    main = p.wait_main()
                    self.assertEqual(main["title"], "Tarvex Scale")
                    for ident, label in ((OPEN_CLOSE, "Connect"), (SAVE, "Save table"), (CLEAR, "Clear data")):
                        self.assertEqual(p.control(ident)["label"], label)
                    self.assertTrue(p.control(STATUS)["label"].startswith("Not connected"))
                    language = p.control(LANGUAGE_COMBO)
                    if name != "empty-english":
                        self.assertEqual(language["items"][language["selection"]], "English")
                    p.shot("english-window")
                    # A question after a restart has its words as well.
                    p.kill()
                    os.makedirs(p.journal_folder(), exist_ok=True)
                    self.write(p.journal_folder(), "journal.txt", ONE_ROW_JOURNAL)
                    p.start()
                    question = self.question_after_notices(p)
                    p.shot("english-question")
                    self.assertEqual(p.control(YES, question)["label"], "Yes")
                    self.assertEqual(p.control(NO, question)["label"], "No")
                    p.click_in_box(question, NO)
                finally:
                    p.finish()

    @staticmethod
    def question_after_notices(p):
        """The restore question, once the notices before it are answered."""
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            for box in p.boxes():
                if "still in the table" in p.box_text(box):
                    return box
                if any(c["id"] == OK for c in box["controls"]):
                    p.click_in_box(box, OK)
            time.sleep(0.2)
        raise AssertionError("no restore question")

    @staticmethod
    def write(folder, name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

    @staticmethod
    def setting_folder(folder):
        os.remove(os.path.join(folder, "Setting.ini"))
        os.mkdir(os.path.join(folder, "Setting.ini"))


if __name__ == "__main__":
    BUILD_BIN = os.path.abspath(sys.argv[1])
    SHOTS_DIR = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
