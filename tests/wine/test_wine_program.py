"""The installed Windows program reading a scale under Wine, as a clerk uses
it: COM9 of the Wine prefix is a pseudo-terminal played by the test's scale,
and the window is driven with real X input through the program's UI probe.

    python3 tests/wine/test_wine_program.py INSTALLED_EXE SHOTS_DIR [--modem-lines LIB]

With --modem-lines, LIB is preloaded into Wine so that the pseudo-terminal
answers the modem-status calls as a real port does; Wine's line wait then
stays pending as on real hardware instead of ending at once.

The flow: 100 readings (damaged frames among them) acknowledged one for one;
the units switched; Disconnect sends 0x3A; three more Connect/Disconnect
cycles; the Chinese texts; the CPU of a connected, silent program; closing
while connected sends 0x3A and ends with exit code 0 within 5 s; a killed
program's rows are offered back at the next start. No "Application Error"
box may appear at any point. A second flow pulls the device while
connected: one report, the watch, and the link back when it returns."""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_smoke import end_wine_session  # noqa: E402
from harness import (CONFIRM_LANGUAGE, LANGUAGE_COMBO, NO, OPEN_CLOSE, PORT_COMBO, STATUS, UNIT_KG,  # noqa: E402
                     UNIT_LB, UNIT_LBOZ, YES, Display, Program, Scale, send_delete_window, wait_until, weight_frame)

ARGS = None
COM = 9
# Good weights, an overweight report and a damaged frame (answered with a
# repeat request, then an error row when it comes again).
FRAMES = [weight_frame(1.25), weight_frame(2.5), bytes([0x3F, 0, 0, 0, 0, 0]), weight_frame(12.5),
          bytes([0x41, 0x09, 0x7F, 0xE9, 0x02, 0x03]), weight_frame(0.75)]
# Wine starts slowly on a busy machine.
START_LIMIT = 120


def x_windows_named(display, title):
    return [int(x) for x in display.xdotool("search", "--onlyvisible", "--name", "^" + title + "$").split()]


def program_pids(executable):
    """The processes of this user that run the Windows program (Wine's
    loader names the program in its command line)."""
    name = os.path.basename(executable).lower().encode()
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                program = f.read().split(b"\0")[0]
            if os.stat(f"/proc/{entry}").st_uid != os.getuid():
                continue
        except OSError:
            continue
        # The first word is the path Wine was given, Windows or Unix style.
        if program.lower().endswith(b"\\" + name) or program.lower().endswith(b"/" + name):
            pids.append(int(entry))
    return pids


def thread_ticks(pid):
    """CPU clock ticks used so far, by the whole process and by each of its threads."""
    def ticks(path):
        with open(path) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])
    threads = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            threads[int(tid)] = ticks(f"/proc/{pid}/task/{tid}/stat")
        except OSError:
            pass
    return ticks(f"/proc/{pid}/stat"), threads


class WineProgram(Program):
    """The installed program under Wine, with the probe file given as a Z: path."""

    def __init__(self, executable, display, shots_dir, name, preload=None):
        self.home = tempfile.mkdtemp(prefix="tarvex-wine-e2e-")
        self.folder = None
        self.executable = executable
        self.preload = preload
        self.watch(display, shots_dir, name)
        self.start()

    def start(self):
        if os.path.exists(self.probe_file):
            os.remove(self.probe_file)
        env = self.display.env()
        env["TARVEX_UI_PROBE"] = "Z:" + self.probe_file.replace("/", "\\")
        if self.preload:
            env["LD_PRELOAD"] = self.preload
        self.process = subprocess.Popen(["wine", self.executable], cwd=os.path.dirname(self.executable), env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def pid(self):
        return wait_until(lambda: program_pids(self.executable), 30, "the program's process")[0]

    def kill(self):
        for pid in program_pids(self.executable):
            os.kill(pid, signal.SIGKILL)
        self.process.wait(30)

    def close_window(self):
        """The close box: WM_DELETE_WINDOW to the main window's X window."""
        title = self.main()["title"]
        xid = max(x_windows_named(self.display, title), key=self._area)
        send_delete_window(self.display.name, xid)

    def _area(self, xid):
        out = self.display.xdotool("getwindowgeometry", str(xid))
        w, h = out.split("Geometry:")[1].split()[0].split("x")
        return int(w) * int(h)


class ErrorBoxWatch(threading.Thread):
    """Looks for the driver's "Application Error" boxes twice a second."""

    def __init__(self, display):
        super().__init__(daemon=True)
        self.display = display
        self.seen = set()  # the X windows of every such box seen
        self.running = True

    def run(self):
        while self.running:
            self.seen.update(x_windows_named(self.display, "Application Error"))
            time.sleep(0.5)


def write_user_settings(text):
    """The user's own "Setting.ini" for every user of the prefix; returns the files."""
    users = os.path.join(os.environ["WINEPREFIX"], "drive_c", "users")
    settings = [os.path.join(users, user, "AppData", "Roaming", "Tarvex Scale", "Setting.ini")
                for user in os.listdir(users) if user != "Public"]
    for setting in settings:
        os.makedirs(os.path.dirname(setting), exist_ok=True)
        with open(setting, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        # Its user's alone, as a file that may hold a password is kept: Wine
        # shows the mode as the file's access list.
        os.chmod(setting, 0o600)
    return settings


class WineReadsAScale(unittest.TestCase):
    def forget_journal(self):
        """The journal a run leaves would be offered back at the next start."""
        users = os.path.join(os.environ["WINEPREFIX"], "drive_c", "users")
        for user in os.listdir(users):
            shutil.rmtree(os.path.join(users, user, "AppData", "Local", "Tarvex Scale"), ignore_errors=True)

    def setUp(self):
        self.link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", f"com{COM}")
        self.forget_journal()
        end_wine_session()
        # A window manager, as on every desktop: without one, Wine waits two
        # seconds for each hidden window to be withdrawn.
        self.display = Display(window_manager=True)
        if os.path.lexists(self.link):
            os.remove(self.link)
        # COM9 is the scale's device for as long as it is plugged in.
        self.scale = self.make_scale()
        self.watch = ErrorBoxWatch(self.display)
        self.watch.start()
        mode = "modem-lines" if ARGS.modem_lines else "plain-pty"
        self.program = WineProgram(ARGS.installed, self.display, ARGS.shots, mode, ARGS.modem_lines)

    def make_scale(self):
        return Scale(frames=FRAMES, interval=0.03, link=self.link)

    def tearDown(self):
        self.watch.running = False
        self.program.shot("end")
        for pid in program_pids(self.program.executable):
            os.kill(pid, signal.SIGKILL)
        self.program.finish()
        # Links this test made go with it: another user's pty may get the
        # same number later.
        if os.path.lexists(self.link):
            os.remove(self.link)
        self.forget_journal()
        self.scale.close()
        end_wine_session()
        self.display.close()

    def wait_main(self):
        p = self.program
        p.wait_main(START_LIMIT)
        wait_until(lambda: f"COM{COM}" in p.control(PORT_COMBO)["items"], 30, f"COM{COM} in the port list")
        time.sleep(0.5)
        return p

    def connect(self, label="Disconnect"):
        p = self.program
        p.choose(PORT_COMBO, p.control(PORT_COMBO)["items"].index(f"COM{COM}"))
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == label, 10, "the connection")

    def disconnect(self, label="Connect"):
        p = self.program
        stops = self.scale.stops
        p.click(OPEN_CLOSE)
        wait_until(lambda: self.scale.stops == stops + 1, 5, "0x3A at the scale")
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == label, 5, "not connected")
        # Every reading the scale had acknowledged is a row, and no more.
        wait_until(lambda: p.rows() == self.scale.acks, 5, "as many rows as acknowledges")

    def readings(self, more, limit=30):
        p = self.program
        rows = p.rows()
        wait_until(lambda: p.rows() >= rows + more, limit, f"{more} more readings")

    def choose_language(self, name):
        p = self.program
        p.choose(LANGUAGE_COMBO, p.control(LANGUAGE_COMBO)["items"].index(name))
        p.click(CONFIRM_LANGUAGE)

    def measure_silent_cpu(self, seconds=10):
        """CPU of the connected program while the scale says nothing, with
        the UI probe paused."""
        pid = self.program.pid()
        pause = self.program.probe_file + ".stop"
        open(pause, "w").close()
        time.sleep(0.5)
        total0, threads0 = thread_ticks(pid)
        time.sleep(seconds)
        total1, threads1 = thread_ticks(pid)
        os.remove(pause)
        hz = os.sysconf("SC_CLK_TCK")
        busiest = sorted(((threads1[t] - threads0.get(t, 0), t) for t in threads1), reverse=True)[:3]
        per_thread = ", ".join(f"thread {t}: {100 * d / hz / seconds:.1f} %" for d, t in busiest)
        print(f"\n{self.program.name}: connected and silent for {seconds} s: "
              f"{100 * (total1 - total0) / hz / seconds:.1f} % of a core in all ({per_thread})", flush=True)

    def assert_texts_whole(self, label):
        """Every text of the main window shows whole, by the static control's own measure."""
        cut = [c["label"] for c in self.program.main()["controls"] if c.get("fits") is False]
        self.assertEqual(cut, [], f"{label}: cut off in the main window")

    def test_reads_switches_reconnects_closes_and_comes_back(self):
        p = self.wait_main()
        self.assertEqual(p.main()["title"], "Tarvex Scale")
        self.connect()
        wait_until(lambda: self.scale.acks >= 100, 90, "100 readings acknowledged")
        p.click(UNIT_LB)
        wait_until(lambda: p.last_row()[2] == "LB", 5, "rows in LB")
        p.click(UNIT_LBOZ)
        wait_until(lambda: p.last_row()[2] == "LB:OZ", 5, "rows in LB:OZ")
        p.shot("english-connected-lboz")
        self.assert_texts_whole("english-connected-lboz")
        p.click(UNIT_KG)
        wait_until(lambda: p.last_row()[2] == "KG", 5, "rows in KG")
        self.disconnect()
        self.assertGreaterEqual(p.rows(), 100)
        kinds = {row[1] for row in p.cells()} | {row[5].split(":")[0] for row in p.cells()}
        self.assertIn("Overweight", kinds)
        self.assertIn("Error", kinds)
        self.assertGreater(self.scale.repeats, 0)

        for _ in range(3):
            self.connect()
            self.readings(3)
            self.disconnect()

        self.choose_language("简体中文")
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "开启连接(C)", 10, "the Chinese texts")
        self.connect("关闭连接(D)")
        self.readings(3)
        p.shot("chinese-connected")
        self.assert_texts_whole("chinese-connected")
        self.disconnect("开启连接(C)")
        self.choose_language("English")
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Connect", 10, "the English texts")

        # Connected and silent: the scale answers the handshake, then waits.
        self.scale.interval = 3600
        self.connect()
        time.sleep(1)
        self.measure_silent_cpu()
        self.scale.interval = 0.03
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Connect", 5, "not connected")

        # Closing while connected: the scale hears 0x3A and the program ends.
        self.connect()
        self.readings(3)
        stops = self.scale.stops
        p.close_window()
        question = p.wait_box("Close the program anyway", 10)
        p.click_in_box(question, YES)
        closed_at = time.monotonic()
        self.assertEqual(p.process.wait(10), 0)
        ended_after = time.monotonic() - closed_at
        self.assertLess(ended_after, 5.0, "the closed program took too long to end")
        self.assertEqual(self.scale.stops, stops + 1)
        self.assertFalse(program_pids(p.executable), "a Windows process is still running")
        print(f"{p.name}: closed while connected, ended in {ended_after:.1f} s with exit code 0", flush=True)

        # Its rows are offered at the next start; a new link, then a kill.
        p.start()
        question = p.wait_box("Show them again", START_LIMIT)
        p.click_in_box(question, NO)
        p.wait_no_box("Show them again")
        self.wait_main()
        self.assertEqual(p.rows(), 0)
        self.connect()
        self.readings(5)
        before = p.cells()
        acks = self.scale.acks
        p.kill()
        # Every row on screen was acknowledged, and every acknowledged one journalled.
        self.assertGreaterEqual(acks, len(before))
        p.start()
        question = p.wait_box("Show them again", START_LIMIT)
        count = int(p.box_text(question).split()[0])
        self.assertGreaterEqual(count, len(before))
        p.click_in_box(question, YES)
        p.wait_no_box("Show them again")
        self.wait_main()
        wait_until(lambda: p.rows() == count, 5, "the rows shown again")
        self.assertEqual(p.cells()[:len(before)], before)
        p.shot("rows-back-after-kill")
        self.assertEqual(len(self.watch.seen), 0, "an Application Error box appeared")


    def test_a_pulled_device_is_reported_once_and_the_link_comes_back(self):
        p = self.wait_main()
        self.connect()
        self.readings(5)
        self.scale.pull()
        # Seen here too: the watch looks only twice a second, and Return may
        # close the box between two of its looks.
        self.watch.seen.update(wait_until(lambda: x_windows_named(self.display, "Application Error"), 10,
                                          "the report of the pulled device"))
        wait_until(lambda: "come back" in p.control(STATUS)["label"], 5, "the watch for the device")
        p.shot("pulled")
        self.assertEqual(p.control(OPEN_CLOSE)["label"], "Connect")
        for box in x_windows_named(self.display, "Application Error"):
            p.xdo("windowactivate", "--sync", str(box))
            p.key("Return")
        wait_until(lambda: not x_windows_named(self.display, "Application Error"), 5, "the report to close")
        rows = p.rows()
        self.scale.plug()
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Disconnect", 15, "the link back")
        self.readings(3)
        self.disconnect()
        self.assertGreater(p.rows(), rows)
        self.assertEqual(len(self.watch.seen), 1, "one report of the pulled device")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("installed")
    parser.add_argument("shots")
    parser.add_argument("--modem-lines")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
