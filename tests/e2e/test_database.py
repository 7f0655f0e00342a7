"""Readings from two desks into one PostgreSQL server of the test's own, as
two copies of the built program under Xvfb, driven by real X input, each
with its own scale: every reading of each desk in the table exactly once,
with its seq, through a crash of the server, a killed program and a clerk
who empties the table between. Also a connection string that cannot be
used, told at start without its password.

    python3 tests/e2e/test_database.py BUILD_BIN [SHOTS_DIR] [unittest args]"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (CLEAR, OPEN_CLOSE, STATUS, YES, Program, ProgramTest, Scale, run_tests,  # noqa: E402
                     setting_for, wait_until)
from postgres import Postgres  # noqa: E402


class DatabaseTest(ProgramTest):
    def setUp(self):
        super().setUp()
        self.server = Postgres()
        self.second = None

    def tearDown(self):
        if self.second:
            program, scale = self.second
            program.shot("end")
            program.finish()
            scale.close()
        super().tearDown()
        self.server.remove()

    @staticmethod
    def status(p):
        return p.control(STATUS)["label"]

    @staticmethod
    def move(p, top):
        """One window above the other, both in sight."""
        p.xdo("windowmove", str(p.main()["xid"]), "0", str(top))
        wait_until(lambda: (p.mapped_origin(p.main()) or (0, -1))[1] >= top, 5, "the window moved")

    def wait_in_table(self, desk, count, what):
        wait_until(lambda: len(self.server.seqs(desk)) >= count, 30, what)

    def test_two_desks_each_reading_once_through_a_server_crash_a_killed_program_and_a_clear(self):
        database = {"Connection": self.server.connection()}
        a = self.start(Scale(interval=0.05), feed={"Desk": "desk-a"}, database=database)
        # The second desk speaks Chinese: the rows carry no words of the window's.
        scale_b = Scale(interval=0.05)
        b = Program(self.build_bin, self.display,
                    setting_for(scale_b.device, language="Chinese", feed={"Desk": "desk-b"}, database=database),
                    self.shots_dir, "desk-b")
        self.second = (b, scale_b)
        b.wait_main()
        self.move(a, 0)
        self.move(b, 540)
        self.connect(a)
        self.connect(b, label="关闭连接(D)")
        self.wait_in_table("desk-a", 40, "desk-a's readings in the table")
        self.wait_in_table("desk-b", 40, "desk-b's readings in the table")

        # The server crashes in the middle of the stream; the readings go on.
        self.server.stop(immediate=True)
        wait_until(lambda: "Database not reached: " in self.status(a), 15, "desk-a told")
        wait_until(lambda: "未能连接数据库：" in self.status(b), 15, "desk-b told")
        rows = a.rows()
        wait_until(lambda: a.rows() >= rows + 20, 10, "readings while the server is away")
        a.shot("database-not-reached")
        b.shot("database-not-reached")
        self.server.start()
        wait_until(lambda: "Database reached again" in self.status(a), 45, "desk-a delivering again")
        wait_until(lambda: "已重新连接数据库" in self.status(b), 45, "desk-b delivering again")
        a.shot("database-reached-again")

        # Desk-a's program is killed mid-stream and started again; the clerk
        # then empties its table and weighs on.
        a.kill()
        a.start()
        a.wait_main()
        self.move(a, 0)
        a.click_in_box(a.wait_box("were still in the table", 10), YES)
        a.click(CLEAR)
        a.click_in_box(a.wait_box("Clear the readings shown", 10), YES)
        a.wait_no_box("Clear the readings shown")
        self.assertEqual(a.rows(), 0)
        self.connect(a)
        wait_until(lambda: a.rows() >= 20, 10, "readings after the clear")
        a.shot("after-kill-and-clear")

        for p, label in ((a, "Connect"), (b, "开启连接(C)")):
            p.click(OPEN_CLOSE)
            wait_until(lambda p=p, label=label: p.control(OPEN_CLOSE)["label"] == label, 5, "the link closed")
        last_a = a.last_row()
        for desk, scale, kills in (("desk-a", self.scale, 1), ("desk-b", scale_b, 0)):
            acknowledged = scale.acks
            wait_until(lambda desk=desk, acknowledged=acknowledged: len(self.server.seqs(desk)) >= acknowledged, 30,
                       f"every acknowledged reading of {desk}")
            seqs = self.server.seqs(desk)
            # Each seq from 1 on exactly once; on top of the acknowledged ones
            # at most the one being acknowledged when the program was killed.
            self.assertEqual(seqs, list(range(1, len(seqs) + 1)), desk)
            self.assertLessEqual(len(seqs), acknowledged + kills, desk)
        self.assertEqual(self.server.rows("SELECT DISTINCT desk FROM readings ORDER BY desk"), [["desk-a"], ["desk-b"]])
        newest = self.server.rows("SELECT number, shown, unit, kind FROM readings WHERE desk = 'desk-a' "
                                  "ORDER BY seq DESC LIMIT 1")[0]
        self.assertEqual(newest, [last_a[0].strip(), last_a[1].strip(), last_a[2].strip(), "weight"])
        self.assertEqual(self.server.rows("SELECT DISTINCT unit, kind FROM readings WHERE desk = 'desk-b'"),
                         [["KG", "weight"]])

    def test_a_connection_string_that_cannot_be_used_is_told_at_start_without_its_password(self):
        scale = Scale()
        p = self.start(scale, database={"Connection": "host=127.0.0.1 password=hunter2 dbname"})
        box = p.wait_box("cannot be used", 10)
        text = p.box_text(box)
        p.shot("bad-connection")
        self.assertIn('missing "=" after "dbname"', text)
        self.assertNotIn("hunter2", text)


if __name__ == "__main__":
    run_tests()
