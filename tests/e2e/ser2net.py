"""Debian's ser2net on loopback in front of a device (the scale simulator's
pseudo-terminal), started and stopped by the tests: a serial device server
as a desk meets it. Also a loopback port that never answers."""

import os
import shutil
import socket
import subprocess
import tempfile

from harness import wait_until


def free_loopback_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    """Read from the kernel's table: connecting would take the server's one client."""
    with open("/proc/net/tcp") as table:
        next(table)
        return any(f[3] == "0A" and f[1].endswith(f":{port:04X}") for f in (line.split() for line in table))


class Ser2net:
    def __init__(self, device, rfc2217=True, port=None):
        self.port = port or free_loopback_port()
        self.rfc2217 = rfc2217
        self.folder = tempfile.mkdtemp(prefix="tarvex-ser2net-")
        os.chmod(self.folder, 0o755)
        self.config = os.path.join(self.folder, "ser2net.yaml")
        accepter = "telnet(rfc2217),tcp" if rfc2217 else "tcp"
        with open(self.config, "w") as f:
            f.write(f"%YAML 1.1\n---\nconnection: &scale\n  accepter: {accepter},127.0.0.1,{self.port}\n"
                    f"  connector: serialdev,{device},9600n81,local\n")
        self.process = None
        self.start()

    @property
    def entry(self):
        """The port map's words for it."""
        return f"{'rfc2217' if self.rfc2217 else 'socket'}://127.0.0.1:{self.port}"

    @property
    def address(self):
        return f"127.0.0.1:{self.port}"

    def start(self):
        self.log = open(os.path.join(self.folder, "ser2net.log"), "ab")
        self.process = subprocess.Popen(["ser2net", "-n", "-d", "-c", self.config, "-P",
                                         os.path.join(self.folder, "ser2net.pid")],
                                        stdout=self.log, stderr=subprocess.STDOUT)
        wait_until(lambda: listening(self.port) or self.process.poll() is not None, 20, "ser2net listening")
        if self.process.poll() is not None:
            raise AssertionError("ser2net did not start: " + open(self.log.name).read())

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.process:
            self.log.close()
        self.process = None

    def close(self):
        self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)


class SilentPort:
    """A loopback port whose listener's queue is full: connects to it get no
    answer at all, as on a dead network."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(0)
        self.port = self.listener.getsockname()[1]
        self.fillers = []
        for _ in range(2):
            c = socket.socket()
            c.setblocking(False)
            c.connect_ex(("127.0.0.1", self.port))
            self.fillers.append(c)

    @property
    def entry(self):
        return f"socket://127.0.0.1:{self.port}"

    def close(self):
        for c in self.fillers:
            c.close()
        self.listener.close()
