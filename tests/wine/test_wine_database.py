"""The installed Windows program sends its readings under Wine to a
PostgreSQL server of the test's own on loopback (through the host's sockets,
with the libpq built into the program): each acknowledged reading once in
the table, through a crash of the server in the middle.

    python3 tests/wine/test_wine_database.py INSTALLED_EXE SHOTS_DIR"""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_wine_program  # noqa: E402
from harness import STATUS, wait_until  # noqa: E402
from postgres import Postgres  # noqa: E402
from test_wine_program import WineReadsAScale, write_user_settings  # noqa: E402


class WineDatabase(WineReadsAScale):
    def setUp(self):
        self.server = Postgres()
        self.settings = write_user_settings(
            f"[Feed]\r\nDesk=wine-desk\r\n[Database]\r\nConnection={self.server.connection()}\r\n")
        super().setUp()

    def tearDown(self):
        super().tearDown()
        self.server.remove()
        for setting in self.settings:
            os.remove(setting)

    def status(self):
        return self.program.control(STATUS)["label"]

    def test_each_reading_reaches_the_table_once_through_a_server_crash(self):
        p = self.wait_main()
        self.connect()
        wait_until(lambda: len(self.server.seqs("wine-desk")) >= 20, 30, "readings in the table")
        self.server.stop(immediate=True)
        wait_until(lambda: "Database not reached: " in self.status(), 30, "told")
        self.readings(20)
        p.shot("wine-database-not-reached")
        self.server.start()
        wait_until(lambda: "Database reached again" in self.status(), 60, "delivering again")
        self.readings(10)
        self.disconnect()
        acknowledged = self.scale.acks
        wait_until(lambda: len(self.server.seqs("wine-desk")) >= acknowledged, 30, "every acknowledged reading")
        seqs = self.server.seqs("wine-desk")
        self.assertEqual(seqs, list(range(1, acknowledged + 1)))
        last = p.cells()[-1]
        self.assertEqual(self.server.rows("SELECT number, shown, unit FROM readings ORDER BY seq DESC LIMIT 1")[0],
                         [last[0].strip(), last[1].strip(), last[2].strip()])
        p.shot("wine-database-delivered")


if __name__ == "__main__":
    class Arguments:
        installed, shots, modem_lines = sys.argv[1], sys.argv[2], None
    test_wine_program.ARGS = Arguments
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2,
                  defaultTest="WineDatabase.test_each_reading_reaches_the_table_once_through_a_server_crash")
