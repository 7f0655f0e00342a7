"""End-to-end tests of what happens to readings around clears and journals:
readings that arrive behind a clear question or a save, a journal that
cannot be copied aside or runs out of room, journals other copies left
behind, and a journal far larger than the table.

    python3 tests/e2e/test_clears_and_journals.py BUILD_BIN [SHOTS_DIR] [unittest args]

The read-only flow needs an ordinary user; the full-disk flows need root
(a small file system of their own)."""

import glob
import os
import shutil
import subprocess
import sys
import time
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import CLEAR, NO, OK, OPEN_CLOSE, SAVE, YES, ProgramTest, Scale, run_tests, wait_until  # noqa: E402


def journal_lines(folder, name="journal.txt"):
    """Its row and clear lines; the header and the desk's count left out."""
    with open(os.path.join(folder, name), "rb") as f:
        return [line for line in f.read().splitlines()[1:] if not line.startswith(b"S\t")]


def live_rows(lines):
    """The rows a journal still holds for the table: cleared ones leave."""
    rows = []
    for line in lines:
        fields = line.split(b"\t")
        if fields[0] == b"X":
            del rows[:int(fields[1])]
        elif fields[0] == b"R":
            rows.append(fields)
    return rows


class ClearsAndJournals(ProgramTest):
    def setUp(self):
        super().setUp()
        self.mounts = []

    def tearDown(self):
        super().tearDown()
        for folder in self.mounts:
            subprocess.run(["umount", "-l", folder])

    def disconnect(self, p):
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Connect", 5, "not connected")
        time.sleep(0.5)

    def answer_restore(self, p, answer, timeout=10):
        box = p.wait_box("were still in the table", timeout)
        count = int(p.box_text(box).split()[0])
        p.click_in_box(box, answer)
        # Another journal's question may follow at once: this box must go.
        wait_until(lambda: all(b["xid"] != box["xid"] for b in p.boxes()), 5, "the question to go")
        return count

    def small_disk(self, size):
        """The journal folder on a file system of the given size (root only)."""
        folder = self.program.journal_folder()
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", folder]).returncode != 0:
            self.skipTest("no tmpfs here")
        self.mounts.append(folder)
        return folder

    def check_after_clear(self, p, cleared):
        """Rows after the cleared ones stay, numbered on, and come back after a kill."""
        self.disconnect(p)
        cells = p.cells()
        numbers = [int(row[0]) for row in cells]
        self.assertGreater(len(cells), 0, "nothing arrived behind the question")
        self.assertEqual(numbers, list(range(cleared + 1, cleared + 1 + len(cells))))
        self.assertEqual(cleared + len(cells), self.scale.acks, "a reading was lost")
        self.assertEqual(len(live_rows(journal_lines(p.journal_folder()))), len(cells))
        p.kill()
        self.restart()
        self.assertEqual(self.answer_restore(p, YES), len(cells))
        wait_until(lambda: p.rows() == len(cells), 5, "the rows shown again")
        self.assertEqual(p.cells(), cells)

    def test_readings_behind_the_clear_question_stay(self):
        p = self.start(Scale(interval=0.03))
        self.connect(p)
        wait_until(lambda: p.rows() >= 10, 10, "readings")
        p.click(CLEAR)
        box = p.wait_box("Clear the readings shown")
        time.sleep(1)  # readings keep arriving behind the question
        p.shot("clear-question-while-reading")
        p.click_in_box(box, YES)
        p.wait_no_box("Clear the readings shown")
        cleared = sum(int(line.split(b"\t")[1]) for line in journal_lines(p.journal_folder()) if line[:2] == b"X\t")
        self.assertGreaterEqual(cleared, 10)
        self.check_after_clear(p, cleared)

    def test_readings_during_a_save_and_its_question_stay(self):
        p = self.start(Scale(interval=0.03))
        self.connect(p)
        wait_until(lambda: p.rows() >= 10, 10, "readings")
        target = os.path.join(p.home, "shift")
        p.click(SAVE)
        p.save_as(target)
        box = p.wait_box("Clear the readings shown", 10)
        time.sleep(1)
        p.click_in_box(box, YES)
        p.wait_no_box("Clear the readings shown")
        self.assertTrue(os.path.exists(target + ".xls"))
        cleared = [int(line.split(b"\t")[1]) for line in journal_lines(p.journal_folder()) if line[:2] == b"X\t"]
        self.assertEqual(len(cleared), 1)
        self.check_after_clear(p, cleared[0])

    def links(self):
        folder = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"tarvex-e2e-links-{os.getpid()}")
        os.makedirs(folder, exist_ok=True)
        self.addCleanup(shutil.rmtree, folder, True)
        return os.path.join(folder, "scale")

    def replug(self):
        """A killed program leaves a pseudo-terminal in exclusive mode while
        the scale side stays open (a real port is reset when closed): the
        scale comes back on a new one under the same name."""
        self.scale.pull()
        self.scale.plug()

    def clear(self, p):
        p.click(CLEAR)
        box = p.wait_box("Clear the readings shown", 10)
        p.click_in_box(box, YES)
        p.wait_no_box("Clear the readings shown")

    def refuse_and_read_on(self, p, reason, make_room):
        """No to the restore question where no copy can be made: told, and
        every reading taken since is offered after a kill. The rows left in
        the journal survive every clear until a copy of them can be made."""
        self.replug()
        self.restart()
        self.answer_restore(p, NO)
        box = p.wait_box("could not be copied", 10)
        p.shot("not-set-aside")
        self.assertIn(reason, p.box_text(box))
        p.click_in_box(box, OK)
        p.wait_no_box("could not be copied")
        self.assertEqual(p.rows(), 0)
        with open(os.path.join(p.journal_folder(), "journal.txt"), "rb") as f:
            journal = f.read()
        kept = journal[:journal.index(b"\nK\t") + 1]
        kept = journal[:journal.index(b"\n", len(kept)) + 1]  # up to the end of the mark
        self.connect(p)
        wait_until(lambda: p.rows() >= 5, 10, "new readings")
        p.kill()
        since = self.scale.acks - self.acks_before
        self.replug()
        self.restart()
        offered = self.answer_restore(p, YES)
        self.assertIn(offered, (since, since + 1))

        # Still no copy: the clear keeps them in the journal and says so again.
        self.clear(p)
        box = p.wait_box("could not be copied", 10)
        p.shot("kept-in-place-at-clear")
        self.assertIn(reason, p.box_text(box))
        p.click_in_box(box, OK)
        with open(os.path.join(p.journal_folder(), "journal.txt"), "rb") as f:
            self.assertTrue(f.read().startswith(kept), "the kept rows left the journal")
        # Once a copy can be made, the next clear makes it.
        make_room()
        self.connect(p)
        wait_until(lambda: p.rows() >= 3, 10, "readings after the clear")
        self.disconnect(p)
        self.clear(p)
        wait_until(lambda: glob.glob(os.path.join(p.journal_folder(), "journal-kept-*.txt")), 10, "a kept copy")
        copies = glob.glob(os.path.join(p.journal_folder(), "journal-kept-*.txt"))
        self.assertEqual(len(copies), 1)
        with open(copies[0], "rb") as f:
            self.assertTrue(f.read().startswith(kept), "the copy lacks the kept rows")
        self.assertEqual(p.boxes(), [])

    @unittest.skipIf(os.geteuid() == 0, "root writes anywhere: runs as an ordinary user")
    def test_no_to_restore_with_a_read_only_journal_folder(self):
        p = self.start(Scale(interval=0.05, link=self.links()))
        self.connect(p)
        wait_until(lambda: p.rows() >= 5, 10, "readings")
        p.kill()
        self.acks_before = self.scale.acks
        os.chmod(p.journal_folder(), 0o555)
        self.refuse_and_read_on(p, "Permission denied", lambda: os.chmod(p.journal_folder(), 0o755))

    @unittest.skipIf(os.geteuid() != 0, "a small file system of its own needs root")
    def test_no_to_restore_on_a_disk_with_less_room_than_the_journal(self):
        p = self.start(Scale(interval=0.01, link=self.links()))
        p.kill()
        folder = self.small_disk("64k")
        self.restart()
        self.connect(p)
        wait_until(lambda: os.path.getsize(os.path.join(folder, "journal.txt")) > 40000, 30, "a large journal")
        p.kill()
        self.acks_before = self.scale.acks
        self.refuse_and_read_on(p, "No space left on device",
                                lambda: subprocess.run(["mount", "-o", "remount,size=4m", folder], check=True))

    @unittest.skipIf(os.geteuid() != 0, "a read-only bind mount needs root")
    def test_a_journal_on_a_read_only_disk_is_offered_and_kept_again_once_it_can_be_written(self):
        p = self.start(Scale(interval=0.05, link=self.links()))
        self.connect(p)
        wait_until(lambda: p.rows() >= 5, 10, "readings")
        p.kill()
        folder = p.journal_folder()
        if subprocess.run(["mount", "--bind", folder, folder]).returncode != 0:
            self.skipTest("no bind mount here")
        self.mounts.append(folder)
        subprocess.run(["mount", "-o", "remount,bind,ro", folder], check=True)
        before = self.scale.acks
        self.replug()
        self.restart()
        self.assertIn(self.answer_restore(p, YES), (before, before + 1))
        box = p.wait_box("can be read but not written", 10)
        p.shot("journal-read-only")
        self.assertIn("Read-only file system", p.box_text(box))
        p.click_in_box(box, OK)
        shown = p.rows()
        self.connect(p)
        wait_until(lambda: p.rows() >= shown + 3, 10, "readings while the disk is read-only")
        subprocess.run(["mount", "-o", "remount,bind,rw", folder], check=True)
        box = p.wait_box("kept safe again", 10)
        p.click_in_box(box, OK)
        wait_until(lambda: p.rows() >= shown + 6, 10, "readings kept again")
        p.kill()
        acknowledged = self.scale.acks
        self.replug()
        self.restart()
        self.assertIn(self.answer_restore(p, YES), (acknowledged, acknowledged + 1))

    @unittest.skipIf(os.geteuid() != 0, "a small file system of its own needs root")
    def test_a_journal_that_ran_out_of_room_is_whole_again_once_there_is_room(self):
        p = self.start(Scale(interval=0.02))
        p.kill()
        folder = self.small_disk("16k")
        self.restart()
        self.connect(p)
        box = p.wait_box("cannot be kept safe", 20)
        p.click_in_box(box, OK)
        subprocess.run(["mount", "-o", "remount,size=4m", folder], check=True)
        box = p.wait_box("kept safe again", 10)
        p.shot("journal-safe-again")
        p.click_in_box(box, OK)
        wait_until(lambda: p.rows() >= 200, 20, "more readings")
        p.kill()
        acknowledged = self.scale.acks
        self.restart()
        offered = self.answer_restore(p, YES)
        self.assertIn(offered, (acknowledged, acknowledged + 1))

    def test_journals_other_copies_left_behind_are_offered_one_after_the_other(self):
        p = self.start(Scale(interval=0.05))
        self.connect(p)
        wait_until(lambda: p.rows() >= 5, 10, "readings")
        p.kill()
        folder = p.journal_folder()
        shutil.copy(os.path.join(folder, "journal.txt"), os.path.join(folder, "journal.2.txt"))
        rows = len(live_rows(journal_lines(folder)))
        self.restart()
        self.assertEqual(self.answer_restore(p, YES), rows)
        p.shot("second-journal-question")
        self.assertEqual(self.answer_restore(p, YES), rows)
        wait_until(lambda: p.rows() == 2 * rows, 5, "both journals' rows")
        self.assertEqual([int(r[0]) for r in p.cells()], list(range(1, 2 * rows + 1)))
        # Its rows are in this copy's journal now; only its desk's count stays.
        self.assertEqual(journal_lines(folder, "journal.2.txt"), [])
        p.kill()
        self.restart()
        self.assertEqual(self.answer_restore(p, NO), 2 * rows)
        self.assertEqual(p.boxes(), [])

    def test_a_journal_larger_than_the_table_restores_its_newest_rows(self):
        p = self.start(Scale(interval=0.05))
        p.kill()
        folder = p.journal_folder()
        total = 2_450_000
        with open(os.path.join(folder, "journal.txt"), "wb") as f:
            f.write(b"TARVEX-SCALE-JOURNAL\t1\n")
            chunk = []
            for i in range(total):
                line = (f"R\t{i}\tW\t1.25\t1796565787\t{i + 1:8d}\t1.2500\tKG\t00:00:07\t"
                        f"14:03:07 12/06/2026\t\t").encode()
                chunk.append(line + f"{zlib.crc32(line):08X}\n".encode())
                if len(chunk) == 100_000:
                    f.write(b"".join(chunk))
                    chunk = []
            f.write(b"".join(chunk))
        started = time.monotonic()
        self.restart()
        box = p.wait_box("were still in the table", 60)
        asked = time.monotonic() - started
        self.assertEqual(int(p.box_text(box).split()[0]), 65000)
        p.click_in_box(box, YES)
        notice = p.wait_box("do not fit in the table", 60)
        shown = time.monotonic() - started
        p.shot("journal-rows-kept-aside")
        self.assertIn(f"{total - 65000} older readings", p.box_text(notice))
        p.click_in_box(notice, OK)
        wait_until(lambda: p.rows() == 65000, 10, "65000 rows")
        self.assertEqual(p.last_row()[0].strip(), str(total))
        kept = glob.glob(os.path.join(folder, "journal-kept-*.txt"))
        self.assertEqual(len(kept), 1)
        self.assertEqual(os.path.getsize(kept[0]) > 200_000_000, True)
        self.assertEqual(len(journal_lines(folder)), 65000)
        print(f"[ figures  ] {total} journal rows: question after {asked:.1f} s, 65000 rows shown after "
              f"{shown:.1f} s", file=sys.stderr)


if __name__ == "__main__":
    run_tests()
