"""The Win32 serial functions under Wine against a pseudo-terminal: COM9 of
the Wine prefix is linked to the pty's device, the sample program opens,
configures, writes, waits, reads and purges it while this script plays the
scale (answers 0x5A with 0xA5 and two more bytes).

    python3 tests/wine/wine_serial.py WINDOWS_BIN

The port is closed while a line wait may still be pending; that must take
well under two seconds (LD_PRELOAD of pty_modem_lines.so keeps Wine's wait
pending, as on a real port)."""

import os
import re
import select
import subprocess
import sys
import threading
import tty


def main():
    bin_dir = sys.argv[1]
    prefix = os.environ["WINEPREFIX"]
    master, slave = os.openpty()
    tty.setraw(slave)
    device = os.ttyname(slave)
    link = os.path.join(prefix, "dosdevices", "com9")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(device, link)
    heard = []

    def scale():
        while True:
            ready, _, _ = select.select([master], [], [], 20)
            if not ready:
                return
            data = os.read(master, 64)
            heard.extend(data)
            if 0x5A in data:
                os.write(master, b"\xa5\x01\x02")
                return

    player = threading.Thread(target=scale, daemon=True)
    player.start()
    try:
        run = subprocess.run(["wine", os.path.join(bin_dir, "tarvex-serial-sample.exe"), "\\\\.\\COM9"],
                             capture_output=True, text=True, timeout=120)
    finally:
        # The pty's number goes back to the system with it: a link left
        # behind would make COM9 another process's terminal.
        os.remove(link)
    print(run.stdout.strip())
    player.join(1)
    closed = re.search(r"quiet wait ended by the stop: yes, closed after (\d+) ms", run.stdout)
    ok = (run.returncode == 0 and 0x5A in heard and "queue count after purge: 0" in run.stdout and closed
          and int(closed.group(1)) < 2000)
    print(f"wine serial: the pty heard {bytes(heard).hex()}, exit code {run.returncode}")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
