"""End-to-end tests of what keeps readings safe: the journal after a crash,
the link that comes back after a pulled device, saves that cannot go where
they should, and settings kept per user.

    python3 tests/e2e/test_nothing_lost.py BUILD_BIN [SHOTS_DIR] [unittest args]

The read-only flows need an ordinary user (root writes anywhere); they skip
as root and run in the unprivileged pass of tools/run-tests.sh."""

import glob
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (CONFIRM_LANGUAGE, LANGUAGE_COMBO, NO, OK, OPEN_CLOSE, SAVE, STATUS, YES,  # noqa: E402
                     ProgramTest, Scale, run_tests, wait_until, weight_frame)

# Weights, an overweight frame and a damaged one (resent once, then an error
# row with control bytes in its remark).
FRAMES = [weight_frame(1.25), bytes([0x3F, 0, 0, 0, 0, 0]), weight_frame(12.5),
          bytes([0x41, 0x09, 0x7F, 0xE9, 0x02, 0x03]), weight_frame(0.75)]


class NothingLost(ProgramTest):
    def journal(self):
        with open(os.path.join(self.program.journal_folder(), "journal.txt"), "rb") as f:
            return f.read()

    def journal_seqs(self):
        """The seq of every whole row line of the journal, in file order."""
        seqs = []
        for line in self.journal().split(b"\n")[1:]:
            fields = line.split(b"\t")
            if fields[0] == b"R" and len(fields) == 16:
                seqs.append(int(fields[3]))
        return seqs

    def test_ten_kills_at_full_rate_never_give_a_seq_twice_nor_skip_one(self):
        p = self.start(Scale(interval=0))
        for cycle in range(10):
            if cycle:
                self.restart()
                p.click_in_box(p.wait_box("were still in the table", 10), YES)
                p.wait_no_box("were still in the table", 5)
            self.connect(p)
            before = p.rows()
            wait_until(lambda: p.rows() >= before + 200, 10, "readings at full rate")
            p.kill()  # in the middle of the stream
            acknowledged = self.scale.acks
            seqs = self.journal_seqs()
            self.assertEqual(len(seqs), len(set(seqs)), f"a seq given twice by run {cycle + 1}")
            self.assertEqual(seqs, list(range(1, len(seqs) + 1)), f"a seq skipped by run {cycle + 1}")
            # Every reading the scale heard acknowledged has its seq.
            self.assertGreaterEqual(len(seqs), acknowledged)
        self.restart()
        p.click_in_box(p.wait_box("were still in the table", 10), YES)
        wait_until(lambda: p.rows() == len(seqs), 5, "every reading shown again")
        p.shot("after-ten-kills")

    def test_killed_program_shows_every_acknowledged_row_again(self):
        p = self.start(Scale(frames=FRAMES, interval=0.05))
        self.connect(p)
        wait_until(lambda: p.rows() >= 12, 10, "a dozen readings")
        p.kill()  # in the middle of the stream
        acknowledged = self.scale.acks
        shown_before = p.cells()
        self.assertGreaterEqual(len(shown_before), 12)
        # A power cut in the middle of the next row: half a line, no end.
        with open(os.path.join(p.journal_folder(), "journal.txt"), "ab") as f:
            f.write(b"R\t999\tW\t1.5\t17965")

        self.restart()
        box = p.wait_box("were still in the table", 10)
        text = p.box_text(box)
        p.shot("restore-question")
        count = int(text.split()[0])
        # Every acknowledged row is there; at most the one being acknowledged
        # when the program died comes on top.
        self.assertIn(count, (acknowledged, acknowledged + 1), text)
        p.click_in_box(box, YES)
        wait_until(lambda: p.rows() == count, 5, "the rows shown again")
        restored = p.cells()
        self.assertEqual(restored[:len(shown_before)], shown_before)
        self.assertEqual(restored[-1][0].strip(), str(count))
        self.assertIn(f"{count} readings", p.control(STATUS)["label"])
        p.shot("restored")
        kept = glob.glob(os.path.join(p.journal_folder(), "journal-damaged-*.txt"))
        self.assertEqual(len(kept), 1, "the damaged journal is kept aside")

        # Numbering goes on where it stopped.
        p.kill()
        self.restart()
        box = p.wait_box("were still in the table", 10)
        p.click_in_box(box, YES)
        wait_until(lambda: p.rows() == count, 5, "the rows shown again")
        self.connect(p)
        wait_until(lambda: p.rows() >= count + 2, 5, "new readings")
        numbers = [int(row[0]) for row in p.cells()]
        self.assertEqual(numbers, list(range(1, len(numbers) + 1)))

        # "No": the rows are kept in a dated file and the table starts empty.
        p.kill()
        total = len(self.journal().splitlines()) - 1
        self.restart()
        box = p.wait_box("were still in the table", 10)
        p.click_in_box(box, NO)
        p.wait_no_box("were still in the table")
        self.assertEqual(p.rows(), 0)
        kept = glob.glob(os.path.join(p.journal_folder(), "journal-kept-*.txt"))
        self.assertEqual(len(kept), 1)
        with open(kept[0], "rb") as f:
            self.assertEqual(len(f.read().splitlines()) - 1, total)
        p.kill()
        self.restart()
        time.sleep(1.5)
        self.assertEqual(p.boxes(), [], "asked again about rows already kept aside")

    def test_a_damaged_line_in_the_middle_hides_no_reading_after_it(self):
        p = self.start(Scale(interval=0.03))
        self.connect(p)
        wait_until(lambda: p.rows() >= 30, 10, "readings")
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Connect", 5, "not connected")
        shown_before = p.cells()
        p.kill()
        path = os.path.join(p.journal_folder(), "journal.txt")
        with open(path, "rb") as f:
            lines = f.read().split(b"\n")
        # A bit flipped in row 11 and row 20 written twice.
        rows = [i for i, line in enumerate(lines) if line.startswith(b"R\t")]
        eleventh, twentieth = rows[10], rows[19]
        lines[eleventh] = lines[eleventh][:12] + bytes([lines[eleventh][12] ^ 1]) + lines[eleventh][13:]
        lines.insert(twentieth + 1, lines[twentieth])
        with open(path, "wb") as f:
            f.write(b"\n".join(lines))
        self.restart()
        box = p.wait_box("were still in the table", 10)
        text = p.box_text(box)
        p.shot("restore-question-damaged-lines")
        self.assertEqual(int(text.split()[0]), len(shown_before) - 1, text)
        self.assertIn("2 damaged lines of the journal were skipped", text)
        kept = glob.glob(os.path.join(p.journal_folder(), "journal-damaged-*.txt"))
        self.assertEqual(len(kept), 1)
        self.assertIn(os.path.basename(kept[0]), text.replace("\n", ""))
        p.click_in_box(box, YES)
        wait_until(lambda: p.rows() == len(shown_before) - 1, 5, "the sound rows shown again")
        self.assertEqual(p.cells(), shown_before[:10] + shown_before[11:])
        # Shown again, the journal has no damage left to tell of.
        p.kill()
        self.restart()
        box = p.wait_box("were still in the table", 10)
        self.assertNotIn("damaged", p.box_text(box))
        p.click_in_box(box, YES)

    def test_pulled_device_comes_back_without_a_click(self):
        link = os.path.join(self.display_folder(), "scale-adapter")
        p = self.start(Scale(interval=0.1, link=link))
        self.connect(p)
        wait_until(lambda: p.rows() >= 4, 5, "readings")
        self.scale.pull()
        # The one report that the device went away stays up (see the shot)
        # while the program watches the port.
        wait_until(lambda: "Waiting for COM1" in p.control(STATUS)["label"], 5, "the status line")
        rows = p.rows()
        p.shot("device-pulled")
        before = p.cpu_seconds()
        time.sleep(4)
        waited = p.cpu_seconds() - before
        self.assertLess(waited, 0.4, f"{waited:.2f} s of CPU in 4 s of waiting")
        self.scale.plug()
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Disconnect", 5, "the link back")
        wait_until(lambda: p.rows() >= rows + 3, 5, "readings after the link came back")
        numbers = [int(row[0]) for row in p.cells()]
        self.assertEqual(numbers, list(range(1, len(numbers) + 1)))
        self.assertIn("Connected to COM1", p.control(STATUS)["label"])
        self.assertEqual(self.scale.handshakes, 2)  # the first device, then the one plugged back
        p.shot("device-back")
        print(f"[ figures  ] CPU while watching for the device: {waited * 1000:.0f} ms in 4 s", file=sys.stderr)

    def display_folder(self):
        folder = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"tarvex-e2e-links-{os.getpid()}")
        os.makedirs(folder, exist_ok=True)
        self.addCleanup(lambda: __import__("shutil").rmtree(folder, ignore_errors=True))
        return folder

    def test_a_journal_that_cannot_be_kept_is_told_and_readings_go_on(self):
        p = self.start(Scale(interval=0.05))
        p.kill()
        folder = p.journal_folder()
        shutil.rmtree(folder)
        with open(folder, "w") as f:
            f.write("a file where the folder should be")
        self.restart()
        box = p.wait_box("cannot be kept safe", 10)
        p.shot("no-journal")
        self.assertIn("Not a directory", p.box_text(box))
        self.assertIn(folder, p.box_text(box))
        p.click_in_box(box, OK)
        p.wait_no_box("cannot be kept safe")
        self.connect(p)
        wait_until(lambda: p.rows() >= 3, 5, "readings without a journal")

    @unittest.skipIf(os.geteuid() != 0, "a small file system of its own needs root")
    def test_a_full_disk_under_the_journal_is_told_once_and_whole_rows_come_back(self):
        p = self.start(Scale(interval=0.01))
        p.kill()
        folder = p.journal_folder()
        shutil.rmtree(folder)
        os.makedirs(folder)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=8k", "tmpfs", folder]).returncode != 0:
            self.skipTest("no tmpfs here")
        self.addCleanup(subprocess.run, ["umount", "-l", folder])
        self.restart()
        time.sleep(0.3)
        self.connect(p)
        box = p.wait_box("cannot be kept safe", 20)
        p.shot("journal-disk-full")
        self.assertIn("No space left on device", p.box_text(box))
        shown = p.cells()
        at_notice = len(shown)
        self.assertGreater(at_notice, 0, "a table too long to compare")
        wait_until(lambda: p.rows() > at_notice + 20, 5, "readings behind the notice")
        p.click_in_box(box, OK)
        p.wait_no_box("cannot be kept safe")
        time.sleep(0.5)
        self.assertEqual(len(p.boxes()), 0, "told more than once")

        # Every row up to the full disk comes back whole; none is half there.
        p.kill()
        self.restart()
        box = p.wait_box("were still in the table", 10)
        kept = int(p.box_text(box).split()[0])
        self.assertGreater(kept, 30)
        self.assertLessEqual(kept, at_notice)
        p.click_in_box(box, YES)
        wait_until(lambda: p.rows() == kept, 5, "the rows restored")
        self.assertEqual(p.cells(), shown[:kept])

    @unittest.skipIf(os.geteuid() == 0, "root writes anywhere: runs as an ordinary user")
    def test_read_only_program_folder(self):
        p = self.start(Scale(interval=0.1), full=3)
        p.finish_process = None
        p.kill()
        # Installed like a program: its folder and "Setting.ini" read-only.
        docs = os.path.join(p.home, "Papers")
        os.makedirs(os.path.join(p.home, ".config"))
        with open(os.path.join(p.home, ".config", "user-dirs.dirs"), "w") as f:
            f.write('XDG_DOCUMENTS_DIR="$HOME/Papers"\n')
        os.chmod(os.path.join(p.folder, "Setting.ini"), 0o444)
        os.chmod(p.folder, 0o555)
        self.restart()
        time.sleep(0.3)

        # The language choice goes to the user's own "Setting.ini".
        entries = p.control(LANGUAGE_COMBO)["items"]
        p.choose(LANGUAGE_COMBO, entries.index("简体中文"))
        p.click(CONFIRM_LANGUAGE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "开启连接(C)", 3, "the Chinese texts")
        with open(os.path.join(p.home, ".config", "tarvex-scale", "Setting.ini"), encoding="utf-8") as f:
            self.assertIn("Chinese.ini", f.read())

        # A full table lands in the documents folder, and the notice says so;
        # nothing is asked. Readings come slowly, so the link can be ended
        # before the table (three rows here) is full again.
        self.scale.interval = 1.0
        self.connect(p, label="关闭连接(D)")
        notice = p.wait_box("表格已满，已保存到该处并清空", 15)
        saved = glob.glob(os.path.join(docs, "Tarvex Scale", "TarvexDataFile-*.xls"))
        self.assertEqual(len(saved), 1)
        self.assertIn(saved[0], p.box_text(notice))
        p.shot("saved-in-documents")
        self.assertEqual([b for b in p.boxes() if "确定清空" in p.box_text(b)], [], "a question after the full table")
        p.click_in_box(notice, OK)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "关闭连接(D)", 5, "the link back")
        wait_until(lambda: p.rows() > 0, 5, "readings")
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "开启连接(C)", 3, "not connected")
        time.sleep(0.5)  # the list shows new rows a moment later
        rows = p.rows()

        # A save into the read-only folder says why, in the user's language.
        p.click(SAVE)
        p.save_as(os.path.join(p.folder, "clerk"))
        box = p.wait_box("无法将表格保存为", 10)
        p.shot("save-failed")
        self.assertIn("Permission denied", p.box_text(box))
        self.assertIn(os.path.join(p.folder, "clerk.xls"), p.box_text(box))
        p.click_in_box(box, OK)
        p.wait_no_box("无法将表格保存为")
        time.sleep(0.5)
        self.assertEqual(p.boxes(), [], "a clear question after a failed save")
        self.assertEqual(p.rows(), rows)

        # The language survives a restart.
        p.kill()
        self.restart()
        box = p.wait_box("是否重新显示", 10)
        p.click_in_box(box, NO)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "开启连接(C)", 3, "Chinese after a restart")


if __name__ == "__main__":
    run_tests()
