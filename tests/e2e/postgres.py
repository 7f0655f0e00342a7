"""Debian's PostgreSQL server of the test's own (tools/test-postgres.sh),
started and stopped by the tests, and another connection's look at what the
program wrote (psql as the superuser over the server's socket)."""

import os
import subprocess
import tempfile

from ser2net import free_loopback_port

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "test-postgres.sh")
PSQL = "/usr/bin/psql"


class Postgres:
    def __init__(self):
        self.port = free_loopback_port()
        self.folder = tempfile.mktemp(prefix="tarvex-pg-", dir="/tmp")
        self.start()

    def _script(self, *args):
        subprocess.run(["bash", SCRIPT, *args], check=True)

    def start(self):
        self._script("start", self.folder, str(self.port))

    def stop(self, immediate=True):
        """-m immediate: as a crash of the server would."""
        self._script("stop", self.folder, "immediate" if immediate else "fast")

    def remove(self):
        self._script("remove", self.folder)

    def connection(self, password="desk-pass"):
        return f"host=127.0.0.1 port={self.port} dbname=weighing user=desk password={password}"

    def rows(self, sql):
        """Each row's fields as text."""
        out = subprocess.run([PSQL, "-h", self.folder, "-p", str(self.port), "-U", "postgres", "-d", "weighing",
                              "-XAt", "-F", "\t", "-v", "ON_ERROR_STOP=1", "-c", sql],
                             check=True, capture_output=True, text=True).stdout
        return [line.split("\t") for line in out.splitlines()]

    def seqs(self, desk):
        """The desk's seqs in the table, as often as each is there."""
        return [int(r[0]) for r in self.rows(f"SELECT seq FROM readings WHERE desk = '{desk}' ORDER BY seq")]
