"""The installed program as a normal user meets it: started from another
working directory, texts from the shipped English file, a language choice
that survives a restart (kept in the user's own "Setting.ini", since the
installed one cannot be written) and the automatic save of a full table in
the user's documents folder.

    python3 tests/e2e/test_installed.py /usr/bin/tarvex-scale [SHOTS_DIR]

The user's own "Setting.ini" maps COM1 to the test's scale and lowers the
table limit; the installed files are left as they are."""

import glob
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (CONFIRM_LANGUAGE, LANGUAGE_COMBO, OK, OPEN_CLOSE, PORT_COMBO,  # noqa: E402
                     Display, Program, Scale, setting_for, wait_until)

INSTALLED = None
SHOTS_DIR = None


class InstalledProgram(unittest.TestCase):
    def setUp(self):
        self.display = Display()
        self.scale = Scale(interval=0.1)
        self.program = None

    def tearDown(self):
        if self.program:
            self.program.shot("end")
            self.program.finish()
        self.scale.close()
        self.display.close()

    def test_english_texts_language_kept_per_user_and_full_table_in_documents(self):
        setting = setting_for(self.scale.device, language=None, full=3)
        self.program = p = Program(None, self.display, setting, SHOTS_DIR, "installed", installed=INSTALLED)
        main = p.wait_main()
        self.assertEqual(main["title"], "Tarvex Scale")
        self.assertEqual(p.control(OPEN_CLOSE)["label"], "Connect")
        p.shot("installed-english")
        with open(os.path.join(p.home, ".config", "user-dirs.dirs"), "w") as f:
            f.write('XDG_DOCUMENTS_DIR="$HOME/Documents"\n')

        entries = p.control(LANGUAGE_COMBO)["items"]
        p.choose(LANGUAGE_COMBO, entries.index("简体中文"))
        p.click(CONFIRM_LANGUAGE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "开启连接(C)", 3, "the Chinese texts")
        p.close_window()
        p.wait_exit(5)

        p.start()
        wait_until(lambda: p.main() and p.control(OPEN_CLOSE)["label"] == "开启连接(C)", 10, "Chinese after a restart")
        p.choose(PORT_COMBO, 1)
        p.click(OPEN_CLOSE)
        notice = p.wait_box("表格已满", 10)
        saved = glob.glob(os.path.join(p.home, "Documents", "Tarvex Scale", "TarvexDataFile-*.xls"))
        self.assertEqual(len(saved), 1)
        self.assertIn(saved[0], p.box_text(notice))
        p.shot("installed-saved-in-documents")
        p.click_in_box(notice, OK)
        p.wait_no_box("表格已满", 5)
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "开启连接(C)", 5, "the link closed")

if __name__ == "__main__":
    INSTALLED = sys.argv[1]
    SHOTS_DIR = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
