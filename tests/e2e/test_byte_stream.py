"""End-to-end tests of how the program cuts the scale's byte stream into
frames: frames that arrive in pieces, two frames in one write, and noise.

    python3 tests/e2e/test_byte_stream.py BUILD_BIN [SHOTS_DIR] [unittest args]"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (NO, OPEN_CLOSE, SAVE, STATUS, YES, ProgramTest, Scale, run_tests, wait_until,  # noqa: E402
                     weight_frame)


class ByteStream(ProgramTest):
    def start(self, scale):
        p = super().start(scale)
        self.connect(p)
        return p

    def disconnect(self, p):
        p.click(OPEN_CLOSE)
        wait_until(lambda: self.scale.stops == 1, 5, "the stop byte")
        wait_until(lambda: p.rows() == self.scale.acks, 5, "as many rows as acknowledgements")

    def journal_kinds(self):
        with open(os.path.join(self.program.journal_folder(), "journal.txt"), "rb") as f:
            lines = f.read().splitlines()[1:]
        # R, row, desk, seq, kind, ...
        return [line.split(b"\t")[4] for line in lines if line.startswith(b"R\t")]

    def test_frames_in_pieces_are_one_reading_each(self):
        p = self.start(Scale(interval=0, pieces=True))
        wait_until(lambda: self.scale.acks >= 1000, 300, "a thousand readings")
        self.disconnect(p)
        p.shot("pieces")
        # Only a piece the scale itself sent late may be judged apart.
        self.assertLessEqual(self.scale.repeats, self.scale.late_pieces, "a frame in pieces was taken for a damaged one")
        kinds = self.journal_kinds()
        self.assertEqual(len(kinds), self.scale.acks)
        self.assertLessEqual(kinds.count(b"E"), self.scale.late_pieces, "a frame in pieces became an error row")
        print(f"[ figures  ] {self.scale.acks} frames in pieces, {self.scale.late_pieces} pieces sent over 40 ms late, "
              f"{self.scale.repeats} repeat requests", file=sys.stderr)
        self.assertIn(f"{self.scale.acks} readings", p.control(STATUS)["label"])

    def test_two_frames_in_one_write_are_two_readings(self):
        p = self.start(Scale(frames=[weight_frame(1.5) + weight_frame(2.25)], interval=0.05))
        wait_until(lambda: self.scale.sent >= 10, 20, "ten pairs")
        self.disconnect(p)
        cells = p.cells()
        self.assertEqual(self.scale.repeats, 0)
        # A pair sent as the link ends is never read: count what was acknowledged.
        self.assertEqual(self.scale.acks % 2, 0)
        self.assertEqual([row[1] for row in cells], ["1.5000", "2.2500"] * (self.scale.acks // 2))

    def test_noise_then_a_frame_after_a_pause(self):
        noise = bytes([0x01, 0x0D, 0xA0])
        p = self.start(Scale(frames=[noise, weight_frame(2.5)], interval=0.1))
        # Each noise is asked for again once, then kept as an error row.
        wait_until(lambda: p.rows() >= 6, 20, "six rows")
        self.disconnect(p)
        p.shot("noise")
        cells = p.cells()
        self.assertEqual([row[1] for row in cells[:6]], ["Error", "2.5000"] * 3)
        self.assertEqual(cells[0][5], "Damaged frame:\\x01\\x0D\\xA0")
        # A resent noise may still wait for the pause when the link ends.
        errors = sum(1 for row in cells if row[1] == "Error")
        self.assertIn(self.scale.repeats, (errors, errors + 1))

    def test_a_damaged_frame_keeps_its_zero_bytes_in_table_journal_and_both_workbooks(self):
        zeros = bytes([0x5F, 0x08, 0x00, 0x00, 0x00, 0x00])  # the checksum does not match
        p = self.start(Scale(frames=[zeros, weight_frame(2.5)], interval=0.1, limit=4))
        wait_until(lambda: p.rows() >= 2, 10, "an error row and a weight")
        self.disconnect(p)
        shown = "Damaged frame:_\\x08\\x00\\x00\\x00\\x00"
        self.assertEqual(p.cells()[0][5], shown)
        table = p.cells()
        # Killed and started again: the journal gives every byte back.
        p.kill()
        p.start()
        p.wait_main()
        p.click_in_box(p.wait_box("were still in the table", 10), YES)
        wait_until(lambda: p.cells() == table, 5, "the rows shown again as they were")
        p.shot("zero-bytes-restored")
        # Saved as a workbook of each type, chosen in the dialog by its file type.
        target = os.path.join(p.home, "zero-bytes")
        for type_index, extension in ((1, ".xlsx"), (0, ".xls")):
            p.click(SAVE)
            dialog = wait_until(p.save_dialog, 5, "the save dialog")
            if dialog["file_type"] != type_index:
                x, y, w, h = dialog["type_rect"]
                p.click_at(x + w // 2, y + h // 2)
                time.sleep(0.5)
                p.key("Down" if type_index > dialog["file_type"] else "Up", "Return")
                wait_until(lambda: p.save_dialog()["file_type"] == type_index, 5, "the file type chosen")
            # The name shown takes the type's extension.
            wait_until(lambda: p.save_dialog()["file_name"].endswith(extension), 5, f"the name in {extension}")
            p.shot(f"save-dialog{extension.replace('.', '-')}")
            p.save_as(target)  # typed without an extension
            p.click_in_box(p.wait_box("Clear the readings shown", 10), NO)
            p.wait_no_box("Clear the readings shown")
            wait_until(lambda: f"Saved {len(table)} readings to {target}{extension}" in p.control(STATUS)["label"], 5,
                       "the save told in the status line")
        self.assertEqual(read_remark(target + ".xlsx"), "Damaged frame:_\x08\\x00\\x00\\x00\\x00")
        self.assertEqual(read_remark(target + ".xls"), "Damaged frame:_\x08\\x00\\x00\\x00\\x00")


def read_remark(path):
    """The first row's remark as a reader no one here wrote finds it."""
    if path.endswith(".xlsx"):
        import openpyxl
        from openpyxl.utils.escape import unescape
        return unescape(openpyxl.load_workbook(path).active.cell(2, 6).value)
    import xlrd
    return xlrd.open_workbook(path).sheet_by_index(0).cell_value(1, 5)


if __name__ == "__main__":
    run_tests()
