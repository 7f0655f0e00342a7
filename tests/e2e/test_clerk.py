"""End-to-end tests of the clerk's words and keys: counts and the sum in the
status line, one report of a pulled adapter at a time, a keyboard-only run,
and boxes that fit their words in both languages on small and large screens.

    python3 tests/e2e/test_clerk.py BUILD_BIN [SHOTS_DIR] [unittest args]"""

import os
import shutil
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (CLEAR, CONFIRM_LANGUAGE, LANGUAGE_COMBO, LIST, NO, OK, OPEN_CLOSE, PORT_COMBO, REFRESH,  # noqa: E402
                     FIND_PROTOCOL, SAVE, SCALE_COMBO, STATUS, TYPING, UNIT_KG, UNIT_LB, YES,
                     Display, Program, ProgramTest, Scale, run_tests, setting_for, wait_until, weight_frame)
from box_gallery import BoxGallery, answer_every_box, check_box  # noqa: E402


def tenths_frame(raw):
    """A good weight frame in tenths of a kilogram."""
    frame = [0x5F, 0x02, (raw >> 16) & 0xFF, (raw >> 8) & 0xFF, raw & 0xFF]
    return bytes(frame + [frame[0] ^ frame[1] ^ frame[2] ^ frame[3] ^ frame[4]])


def journal_of(rows):
    lines = [b"TARVEX-SCALE-JOURNAL\t1\n"]
    for i, moment in enumerate(rows):
        line = (f"R\t{i}\tW\t1.25\t1796565787\t{i + 1:8d}\t1.2500\tKG\t00:00:07\t{moment}\t\t").encode()
        lines.append(line + f"{zlib.crc32(line):08X}\n".encode())
    return b"".join(lines)


class Clerk(ProgramTest):
    def status(self):
        return self.program.control(STATUS)["label"]

    def test_counts_agree_and_the_sum_shows_in_full(self):
        p = self.start(Scale(frames=[tenths_frame(99999)], interval=0.6, limit=120))
        self.connect(p)
        wait_until(lambda: p.rows() == 1, 5, "one reading")
        self.assertIn("    1 reading    ", self.status())
        wait_until(lambda: p.rows() == 2, 5, "two readings")
        self.assertIn("    2 readings    ", self.status())
        self.scale.interval = 0.005
        wait_until(lambda: p.rows() == 120, 30, "120 readings")
        wait_until(lambda: "Sum 1199988.0 KG" in self.status(), 5, "the sum in full")
        p.shot("sum-in-full")
        cut = [c["label"] for c in p.main()["controls"] if c.get("fits") is False]
        self.assertEqual(cut, [], "texts cut off in the window")
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Connect", 5, "not connected")
        entries = p.control(LANGUAGE_COMBO)["items"]
        p.choose(LANGUAGE_COMBO, entries.index("简体中文"))
        p.click(CONFIRM_LANGUAGE)
        wait_until(lambda: "120 条读数" in self.status(), 5, "the count in Chinese")
        p.click(CLEAR)
        p.click_in_box(p.wait_box("确定清空"), YES)
        wait_until(lambda: "0 条读数" in self.status(), 5, "an empty table")

    def test_a_language_change_rewords_the_marks_at_once(self):
        damaged = bytes([0x41, 0x09, 0x7F, 0xE9, 0x02, 0x03])
        # A reading, an overweight report, and a damaged frame sent again on
        # the repeat request: three rows.
        p = self.start(Scale(frames=[weight_frame(1.25), bytes([0x3F, 0, 0, 0, 0, 0]), damaged], interval=0.05,
                             limit=3))
        self.connect(p)
        wait_until(lambda: p.rows() == 3, 10, "three rows")
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Connect", 5, "not connected")
        before = p.cells()
        self.assertEqual([row[1] for row in before], ["1.2500", "Overweight", "Error"])
        self.assertTrue(before[2][5].startswith("Damaged frame:"), before[2][5])
        shown_bytes = before[2][5][len("Damaged frame:"):]
        entries = p.control(LANGUAGE_COMBO)["items"]
        p.choose(LANGUAGE_COMBO, entries.index("简体中文"))
        p.click(CONFIRM_LANGUAGE)
        wait_until(lambda: [row[1] for row in p.cells()] == ["1.2500", "超重", "错误"], 5, "the marks in Chinese")
        self.assertEqual(p.cells()[2][5], "错误数据：" + shown_bytes)
        p.shot("marks-in-chinese")

    def test_ten_pulls_never_show_more_than_one_report_and_none_once_back(self):
        links = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"tarvex-e2e-links-{os.getpid()}")
        os.makedirs(links, exist_ok=True)
        p = self.start(Scale(interval=0.1, link=os.path.join(links, "scale")))
        self.connect(p)
        most = 0
        for pull in range(10):
            wait_until(lambda: p.rows() > 0, 5, "readings")
            self.scale.pull()
            report = p.wait_box("WARNING", 10)
            self.assertNotIn("WaitCommEvent", p.box_text(report))
            if pull == 0:
                p.shot("report")
            self.scale.plug()
            deadline = time.monotonic() + 20
            while p.control(OPEN_CLOSE)["label"] != "Disconnect" and time.monotonic() < deadline:
                most = max(most, sum("WARNING" in p.box_text(b) for b in p.boxes()))
                time.sleep(0.05)
            self.assertEqual(p.control(OPEN_CLOSE)["label"], "Disconnect", f"the link back after pull {pull + 1}")
            p.wait_no_box("WARNING")
        self.assertEqual(most, 1)
        p.shot("back-after-ten-pulls")

    def test_tab_goes_in_the_windows_order_in_both_states(self):
        p = self.start(Scale(interval=0.3))
        p.focus(p.main())
        wait_until(lambda: p.main()["focus"] == OPEN_CLOSE, 5, "the keyboard on Connect at start")
        p.shot("focus-at-start")

        def tab_round(stops):
            seen = []
            for _ in range(stops):
                before = p.main()["focus"]
                p.key("Tab")
                seen.append(wait_until(lambda: p.main()["focus"] != before and p.main()["focus"], 5, f"the stop after {seen}"))
                if seen[-1] == LIST:
                    p.shot(f"table-focused-{len(seen)}")
            return seen

        # Disconnected: every control, as the window lays them out; the unit
        # group is one stop, the chosen unit.
        # Zero, Tare and Weigh are for scales that are asked: the frames' have none.
        self.assertEqual(tab_round(12), [UNIT_KG, LIST, PORT_COMBO, CLEAR, REFRESH, SAVE, LANGUAGE_COMBO,
                                         CONFIRM_LANGUAGE, SCALE_COMBO, FIND_PROTOCOL, TYPING, OPEN_CLOSE])
        self.connect(p)
        wait_until(lambda: p.rows() >= 1, 5, "a reading")
        p.focus(p.main())
        wait_until(lambda: p.main()["focus"] is not None, 5, "the keyboard in the window")
        # Connected: the link's controls are out of reach, the order the same.
        start = p.main()["focus"]
        order = [OPEN_CLOSE, UNIT_KG, LIST, CLEAR, SAVE, TYPING]
        self.assertIn(start, order)
        rest = order[order.index(start) + 1:] + order[:order.index(start) + 1]
        self.assertEqual(tab_round(6), rest)

    def test_keyboard_only(self):
        self.display.close()
        self.display = Display(window_manager=True)
        p = self.start(Scale(interval=0.2))
        p.focus(p.main())
        p.key("alt+c")  # Connect, on the automatic search
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Disconnect", 10, "the connection")
        wait_until(lambda: p.rows() >= 2, 5, "readings")
        p.key("alt+l")
        wait_until(lambda: p.control(UNIT_LB)["checked"] and p.last_row()[2] == "LB", 5, "rows in LB")
        p.key("ctrl+s")
        target = os.path.join(p.home, "keyboard")
        p.save_as(target)
        p.focus(p.wait_box("Clear the readings shown", 10))
        p.key("Escape")  # no: the rows stay
        p.wait_no_box("Clear the readings shown")
        self.assertTrue(os.path.exists(target + ".xls"))
        self.assertGreater(p.rows(), 0)
        p.shot("keyboard")
        p.focus(p.main())
        p.key("alt+F4")
        p.focus(p.wait_box("Close the program anyway", 10))
        p.key("alt+y")
        self.assertEqual(p.wait_exit(10), 0)


class BoxesFit(ProgramTest):
    """Every box in both languages at 800x600 and 1920x1080: each text shows
    whole (as tall as the toolkit needs) and each box lies on the screen."""

    def test_boxes_fit_their_words(self):
        home_name = "a-rather-long-folder-name-for-the-home-of-a-packing-desk-clerk"
        for language, yes_text in (("English", "Show them again"), ("Chinese", "是否重新显示")):
            for screen in ((800, 600), (1920, 1080)):
                with self.subTest(language=language, screen=screen):
                    display = Display(size=f"{screen[0]}x{screen[1]}x24")
                    p = Program(self.build_bin, display, setting_for("/nonexistent/tty", language=language),
                                self.shots_dir, f"boxes-{language}-{screen[0]}")
                    first_home = p.home
                    try:
                        p.kill()
                        # A long home folder: the question names the journal's folder.
                        p.home = os.path.join(first_home, home_name)
                        os.makedirs(p.journal_folder())
                        with open(os.path.join(p.journal_folder(), "journal.txt"), "wb") as f:
                            f.write(journal_of(["21:19:24 12/07/2026", "21:20:01 12/07/2026"]))
                        p.start()
                        notice = p.wait_box(None, 10)
                        check_box(self, p, notice, "no-port", screen)
                        p.click_in_box(notice, OK)
                        question = wait_until(lambda: next((b for b in p.boxes() if yes_text in p.box_text(b)), None),
                                              10, "the restore question")
                        self.assertIn("21:19:24\u00a012/07/2026", p.box_text(question))
                        check_box(self, p, question, "restore", screen)
                        p.click_in_box(question, YES)
                        p.click(CLEAR)
                        clear = p.wait_box(None, 10)
                        check_box(self, p, clear, "clear", screen)
                        p.click_in_box(clear, NO)
                        p.close_window()
                        closing = p.wait_box(None, 10)
                        check_box(self, p, closing, "close", screen)
                        p.click_in_box(closing, NO)
                        # Where the journal should be lies a file: the notice names the long path.
                        p.kill()
                        shutil.rmtree(p.journal_folder())
                        with open(p.journal_folder(), "w") as f:
                            f.write("not a folder")
                        p.start()
                        for label in ("no-port-again", "journal-failed"):
                            box = wait_until(lambda: next(iter(p.boxes()), None), 10, label)
                            check_box(self, p, box, label, screen)
                            p.click_in_box(box, OK)
                            wait_until(lambda: all(b["xid"] != box["xid"] for b in p.boxes()), 10, "the box to go")
                        # A settings file that gives no texts: the notice names it.
                        p.kill()
                        with open(os.path.join(p.folder, "Setting.ini"), "wb") as f:
                            f.write(b"\x00" * 64)
                        p.start()
                        box = p.wait_box(None, 10)
                        check_box(self, p, box, "unreadable", screen)
                        p.click_in_box(box, OK)
                    finally:
                        p.finish()
                        shutil.rmtree(first_home, ignore_errors=True)
                        display.close()

    def test_every_box_fits_its_words(self):
        """Every box the program has, with the longest values a clerk may
        meet, shown by the box gallery with the window's own texts."""
        for language in ("English", "Chinese"):
            for screen in ((800, 600), (1920, 1080)):
                with self.subTest(language=language, screen=screen):
                    display = Display(size=f"{screen[0]}x{screen[1]}x24")
                    label = f"gallery-{language}-{screen[0]}"
                    gallery = BoxGallery(os.path.join(self.build_bin, "tarvex-box-gallery"), display, language,
                                         self.shots_dir, label)
                    try:
                        answer_every_box(self, gallery, label, screen)
                    finally:
                        gallery.finish()
                        display.close()


if __name__ == "__main__":
    run_tests()
