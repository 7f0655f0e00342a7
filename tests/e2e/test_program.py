"""End-to-end tests of the built program: real X input, a scale on a pty.

    python3 tests/e2e/test_program.py BUILD_BIN [SHOTS_DIR]

Each flow runs without a window manager and with openbox."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (ABOUT_OK, CLEAR, STATUS, CONFIRM_LANGUAGE, LANGUAGE_COMBO, NO, OK, OPEN_CLOSE, PORT_COMBO, SAVE,  # noqa: E402
                     UNIT_LB, UNIT_LBOZ, YES, Display, Program, Scale, setting_for, wait_until)

BUILD_BIN = None
SHOTS_DIR = None


class ProgramFlows:
    window_manager = False

    def setUp(self):
        self.display = Display(window_manager=self.window_manager)
        self.scale = Scale(interval=0.15)
        self.program = None

    def tearDown(self):
        if self.program:
            self.program.shot("end")
            output = self.program.finish()
            if "Gtk-CRITICAL" in output or "Gtk-WARNING" in output:
                print(output, file=sys.stderr)
        self.scale.close()
        self.display.close()

    def start(self, **setting):
        name = f"{self.id().split('.')[-1]}-{'wm' if self.window_manager else 'nowm'}"
        self.program = Program(BUILD_BIN, self.display, setting_for(self.scale.device, **setting), SHOTS_DIR, name)
        self.program.wait_main()
        time.sleep(0.3)
        return self.program

    def connect(self, p, entry=1, connected_label="Disconnect"):
        p.choose(PORT_COMBO, entry)
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == connected_label, 5, "the connection")

    def test_connect_read_switch_unit_and_language_disconnect(self):
        p = self.start()
        self.assertEqual(p.main()["title"], "Tarvex Scale")
        wait_until(lambda: p.control(STATUS)["label"].startswith("Not connected"), 2, "the status line at start")
        p.shot("started")
        self.connect(p)
        wait_until(lambda: p.rows() >= 3, 5, "three readings")
        self.assertEqual(p.last_row()[2], "KG")
        wait_until(lambda: "Connected to COM1" in p.control(STATUS)["label"], 2, "the status line")
        self.assertRegex(p.control(STATUS)["label"], r"\d+ readings +Sum \d+\.\d+ KG")
        p.click(UNIT_LB)
        wait_until(lambda: p.last_row()[2] == "LB", 3, "rows in LB")
        p.click(UNIT_LBOZ)
        wait_until(lambda: p.last_row()[2] == "LB:OZ", 3, "rows in LB:OZ")
        p.shot("connected-lboz")
        p.click(OPEN_CLOSE)
        wait_until(lambda: self.scale.stops == 1, 2, "the stop byte")
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Connect", 2, "not connected")
        # Every acknowledged reading is in the list once the link has ended.
        wait_until(lambda: p.rows() == self.scale.acks, 2, "as many rows as acknowledgements")
        entries = p.control(LANGUAGE_COMBO)["items"]
        p.choose(LANGUAGE_COMBO, entries.index("简体中文"))
        p.click(CONFIRM_LANGUAGE)
        wait_until(lambda: p.main()["title"] != "Tarvex Scale" or p.control(OPEN_CLOSE)["label"] != "Connect", 3,
                   "the Chinese texts")
        self.assertEqual(p.control(OPEN_CLOSE)["label"], "开启连接(C)")
        wait_until(lambda: p.control(STATUS)["label"].startswith("未连接"), 2, "the status line in Chinese")
        self.connect(p, entry=1, connected_label="关闭连接(D)")
        rows = p.rows()
        wait_until(lambda: p.rows() >= rows + 2, 5, "readings in Chinese")
        self.assertIn("已连接 COM1", p.control(STATUS)["label"])
        p.shot("chinese-connected")
        p.focus(p.main())
        p.key("F1")
        about = wait_until(lambda: next((w for w in p.windows() if w["title"] == "About Tarvex Scale"), None), 5,
                           "the About box")
        p.shot("about")
        p.click(ABOUT_OK, about)
        wait_until(lambda: not any(w["title"] == "About Tarvex Scale" for w in p.windows()), 3, "the About box to go")

    def test_nearly_full_notice_closes_with_a_click_while_readings_go_on(self):
        p = self.start(warning=3, full=1000)
        self.connect(p)
        box = p.wait_box("nearly full")
        p.shot("nearly-full")
        before = p.rows()
        wait_until(lambda: p.rows() > before + 1, 5, "readings behind the notice")
        p.click_in_box(box, OK)
        p.wait_no_box("nearly full", 3)
        after = p.rows()
        wait_until(lambda: p.rows() > after, 5, "readings after the notice")
        p.click(OPEN_CLOSE)

    def test_full_table_is_saved_emptied_and_reconnected_twenty_times(self):
        p = self.start(warning=1000, full=4)
        self.connect(p)
        named = []
        for cycle in range(20):
            # Each cycle greets the scale anew; its notice names its workbook.
            wait_until(lambda: self.scale.handshakes >= cycle + 2, 15, f"the link back after full table {cycle + 1}")
            prefix = "The table was full, so it was saved as "
            notice = p.wait_box(prefix, 10)
            text = p.box_text(notice)
            path = text[text.index(prefix) + len(prefix):text.index(" and emptied")]
            if not named or path != named[-1]:
                named.append(path)
            self.assertIsNotNone(p.mapped_origin(notice), "the notice is not on the screen")
            self.assertEqual([b for b in p.boxes() if "being saved" in p.box_text(b) or "Clear the readings" in p.box_text(b)],
                             [], "a stale notice or a question")
            if cycle == 0:
                p.shot("full-table-saved")
                self.assertIn(f"Saved 5 readings to {path}", p.control(STATUS)["label"])
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Connect", 5, "not connected")
        p.shot("after-twenty-full-tables")
        saved = sorted(os.path.join(p.folder, f) for f in os.listdir(p.folder) if f.startswith("TarvexDataFile-"))
        # Every full table has a workbook of its own, even two within a second.
        self.assertEqual(len(saved), self.scale.handshakes - 1)
        self.assertTrue(set(named) <= set(saved), (named, saved))
        for name in saved:
            with open(name, "rb") as f:
                self.assertEqual(f.read(8), bytes.fromhex("d0cf11e0a1b11ae1"), f"{name} is not an Excel 97-2003 file")
        notice = p.wait_box("table was full")
        p.click_in_box(notice, OK)
        p.wait_no_box("table was full")

    def test_save_dialog_with_a_typed_name_asks_before_replacing(self):
        p = self.start()
        self.connect(p)
        wait_until(lambda: p.rows() >= 2, 5, "readings")
        p.click(OPEN_CLOSE)
        target = os.path.join(p.folder, "clerk-table")
        for attempt in range(2):
            p.click(SAVE)
            p.save_as(target)
            if attempt == 0:
                question = p.wait_box("Clear the readings shown")
                p.click_in_box(question, NO)
                p.wait_no_box("Clear the readings shown")
                self.assertTrue(os.path.exists(target + ".xls"))
                self.assertIn(f"readings to {target}.xls", p.control(STATUS)["label"])
                first_size = os.path.getsize(target + ".xls")
            else:
                box = p.wait_box("already exists")
                p.shot("replace-question")
                p.click_in_box(box, NO)
                p.wait_no_box("already exists")
                # The dialog comes back with the name as typed; the user gives up.
                dialog = wait_until(p.save_dialog, 5, "the save dialog again")
                wait_until(lambda: p.save_dialog()["file_name"] == "clerk-table", 5, "the typed name kept")
                time.sleep(0.5)
                p.focus(dialog)
                p.key("Escape")
        wait_until(lambda: not p.save_dialog(), 5, "the dialog to go")
        self.assertEqual(os.path.getsize(target + ".xls"), first_size)

    def test_start_up_notice_is_centred_on_the_window(self):
        name = f"{self.id().split('.')[-1]}-{'wm' if self.window_manager else 'nowm'}"
        setting = setting_for("/nonexistent/tty-for-a-test")
        self.program = p = Program(BUILD_BIN, self.display, setting, SHOTS_DIR, name)
        box = p.wait_box("No serial port was found", 10)
        time.sleep(0.3)  # placed once shown
        box = p.wait_box("No serial port was found")
        main = p.wait_main()
        p.shot("no-port")
        bx, by, bw, bh = box["rect"]
        mx, my, mw, mh = main["rect"]
        self.assertLess(abs((bx + bw // 2) - (mx + mw // 2)), 40, (box["rect"], main["rect"]))
        self.assertLess(abs((by + bh // 2) - (my + mh // 2)), 60, (box["rect"], main["rect"]))
        p.click_in_box(box, OK)
        p.wait_no_box("No serial port was found")

    def test_clear_and_close_questions(self):
        p = self.start()
        self.connect(p)
        wait_until(lambda: p.rows() >= 2, 5, "readings")
        p.click(OPEN_CLOSE)
        p.click(CLEAR)
        box = p.wait_box("Clear the readings shown")
        p.click_in_box(box, NO)
        p.wait_no_box("Clear the readings shown")
        self.assertGreater(p.rows(), 0)
        p.close_window()
        box = p.wait_box("Close the program anyway")
        p.shot("close-question")
        p.click_in_box(box, NO)
        p.wait_no_box("Close the program anyway")
        self.assertIsNone(p.process.poll())
        # Escape and the question's close box keep the program and its rows.
        rows = p.rows()
        for dismiss in ("Escape", "close box"):
            p.close_window()
            box = p.wait_box("Close the program anyway")
            if dismiss == "Escape":
                p.focus(box)
                p.key("Escape")
            else:
                p.close_box(box)
            p.wait_no_box("Close the program anyway")
            time.sleep(0.5)
            self.assertIsNone(p.process.poll(), f"{dismiss} closed the program")
            self.assertEqual(p.rows(), rows)
        p.click(CLEAR)
        box = p.wait_box("Clear the readings shown")
        p.click_in_box(box, YES)
        wait_until(lambda: p.rows() == 0, 3, "an empty table")
        p.close_window()
        self.assertEqual(p.wait_exit(5), 0)


class WithoutWindowManager(ProgramFlows, unittest.TestCase):
    window_manager = False


class WithOpenbox(ProgramFlows, unittest.TestCase):
    window_manager = True


if __name__ == "__main__":
    BUILD_BIN = os.path.abspath(sys.argv[1])
    SHOTS_DIR = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
