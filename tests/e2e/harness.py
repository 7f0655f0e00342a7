"""The built program as a clerk meets it: started as its own process from a
copy of the build tree, on a virtual X display (with or without a window
manager), driven only by real X input (xdotool), with a scale of its own on
a pseudo-terminal. Controls are found through the program's UI probe file
(TARVEX_UI_PROBE), never by fixed pixels."""

import ctypes
import ctypes.util
import json
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import sys
import time
import unittest

# Control ids of the main window.
LIST, OPEN_CLOSE, PORT_COMBO, LANGUAGE_COMBO = 1000, 1002, 1004, 1005
UNIT_KG, UNIT_LB, UNIT_LBOZ = 1010, 1011, 1012
CLEAR, REFRESH, SAVE, CONFIRM_LANGUAGE = 1013, 1014, 1015, 1016
YES, NO, OK, MSG_TEXT = 6, 7, 1, 1019
STATUS, ABOUT_OK, TYPING = 1030, 5100, 1031
SCALE_COMBO, ZERO, TARE, WEIGH, LIVE_WEIGHT, LIVE_STATE, FIND_PROTOCOL = 1033, 1034, 1035, 1036, 1037, 1038, 1039


def send_delete_window(display_name, xid):
    """WM_DELETE_WINDOW to a window, as a window manager's close box sends it."""
    x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]

    display = x11.XOpenDisplay(display_name.encode())
    event = ClientMessage(type=33, window=xid, format=32)  # 33: ClientMessage
    event.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(display, xid, 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


class Timeout(AssertionError):
    pass


# Limits are what a quiet machine needs; a busy one (CI beside other work)
# gets this many times as long. Only a failure ever waits the whole limit.
PATIENCE = float(os.environ.get("TARVEX_TEST_PATIENCE", "4"))


def steady(find, window):
    """The window once it has stopped moving (for two seconds at most): a
    window manager places a new window a moment after it appears."""
    deadline = time.monotonic() + 2
    while time.monotonic() < deadline:
        time.sleep(0.2)
        again = find()
        if again is None or again["rect"] == window["rect"]:
            break
        window = again
    return window


def wait_until(condition, timeout=5.0, what="condition"):
    deadline = time.monotonic() + timeout * PATIENCE
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Timeout(f"timed out waiting for {what}")
        time.sleep(0.02)


def weight_frame(kilograms):
    """The six bytes of a good weight frame (code 8: three decimals)."""
    raw = round(abs(kilograms) * 1000)
    frame = [0x5F, 0x08 | (0x40 if kilograms < 0 else 0), (raw >> 16) & 0xFF, (raw >> 8) & 0xFF, raw & 0xFF]
    check = 0
    for b in frame:
        check ^= b
    return bytes(frame + [check])


def simulator_path():
    """The scale simulator of the native build (tarvex-scale-sim), or the
    one TARVEX_SCALE_SIM names."""
    named = os.environ.get("TARVEX_SCALE_SIM")
    if named:
        return named
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    return os.path.join(root, "build", "bin", "tarvex-scale-sim")


class Scale:
    """The scale simulator (tarvex-scale-sim --control) on a pseudo-terminal:
    answers 0x5A with 0xA5, then sends the frames it is given (or good ones)
    each interval after a 0x9F, resends on 0xF9 and falls silent on 0x3A.
    Counts what it hears."""

    def __init__(self, frames=None, interval=0.2, link=None, pieces=False, limit=None, script=None, piece_gap_ms=None):
        """frames: the bytes of each frame; or script: the simulator's own
        words ("good:1.234,over,damaged")."""
        arguments = [simulator_path(), "--control", "--no-resend", "--rate", self._rate(interval)]
        if frames:
            arguments += ["--script", ",".join("bytes:" + bytes(f).hex() for f in frames)]
        elif script:
            arguments += ["--script", script]
        if limit is not None:
            arguments += ["--limit", str(limit)]
        if pieces:
            # Each frame in two or three pieces 1-10 ms apart, as a USB
            # adapter on a busy machine hands them over.
            arguments.append("--pieces")
        if piece_gap_ms:
            # Pieces this far apart, as a device server on a busy network
            # may forward them.
            arguments += ["--piece-gap", str(piece_gap_ms)]
        self.link = link  # a stable name for the device, like a udev symlink
        if link:
            arguments += ["--link", link]
        self._interval = interval
        self._lock = threading.Lock()
        self._process = subprocess.Popen(arguments, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.device = self._device_line(self._process.stdout.readline())

    @staticmethod
    def _rate(interval):
        return str(1.0 / interval) if interval > 0 else "0"

    @staticmethod
    def _device_line(line):
        if not line.startswith("device: "):
            raise RuntimeError(f"the scale simulator did not start: {line!r}")
        return line[len("device: "):].strip()

    def _ask(self, command):
        with self._lock:
            self._process.stdin.write(command + "\n")
            self._process.stdin.flush()
            return self._process.stdout.readline()

    @property
    def interval(self):
        return self._interval

    @interval.setter
    def interval(self, seconds):
        """Takes effect from the next frame the scale schedules."""
        self._interval = seconds
        self._ask("rate " + self._rate(seconds))

    def allow(self, frames):
        """Frames sent at most from the start: the scale waits at the limit."""
        self._ask(f"limit {frames}")

    def counts(self):
        return {k: int(v) for k, v in (field.split("=") for field in self._ask("counts").split())}

    handshakes = property(lambda self: self.counts()["handshakes"])
    sent = property(lambda self: self.counts()["frames"])
    acks = property(lambda self: self.counts()["acks"])
    repeats = property(lambda self: self.counts()["repeats"])
    stops = property(lambda self: self.counts()["stops"])
    late_pieces = property(lambda self: self.counts()["late_pieces"])

    def plug(self):
        """A device appears: a new pseudo-terminal, under the link if any."""
        self.device = self._device_line(self._ask("plug"))

    def pull(self):
        """The adapter is pulled out: the device and its name go away."""
        self._ask("pull")

    def close(self):
        if self._process.poll() is None:
            try:
                self._process.stdin.close()
                self._process.wait(5)
            except (OSError, subprocess.TimeoutExpired):
                self._process.kill()
                self._process.wait()
        self._process.stdout.close()


class AskedScale:
    """The simulator as a scale that is asked for its weight (or prints it):
    tarvex-scale-sim --protocol P --control on a pseudo-terminal. Parcels are
    put on and taken off; counts what it heard."""

    def __init__(self, protocol, unit="kg", parity_bits=False, link=None):
        arguments = [simulator_path(), "--protocol", protocol, "--unit", unit, "--control"]
        if parity_bits:
            arguments.append("--parity-bits")
        if link:
            arguments += ["--link", link]
        self.link = link
        self._lock = threading.Lock()
        self._process = subprocess.Popen(arguments, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.device = Scale._device_line(self._process.stdout.readline())

    def _ask(self, command):
        with self._lock:
            self._process.stdin.write(command + "\n")
            self._process.stdin.flush()
            return self._process.stdout.readline()

    def put(self, kilograms):
        self._ask(f"put {kilograms}")

    def counts(self):
        return {k: int(v) for k, v in (field.split("=") for field in self._ask("counts").split())}

    def pull(self):
        self._ask("pull")

    def plug(self):
        self.device = Scale._device_line(self._ask("plug"))

    close = Scale.close


class UsbScale:
    """The simulator as a USB postal scale laid out under a folder of its
    own (tarvex-scale-sim --hid FOLDER --control); the program finds it there
    by TARVEX_HID_ROOT. Parcels are put on and taken off; it is pulled and
    plugged in again."""

    NAME = "Tarvex Simulated Postal Scale"

    def __init__(self, unit="kg", report_ms=100):
        self.root = tempfile.mkdtemp(prefix="tarvex-usb-root-")
        os.chmod(self.root, 0o755)
        self._lock = threading.Lock()
        self._process = subprocess.Popen([simulator_path(), "--hid", self.root, "--unit", unit,
                                          "--print-ms", str(report_ms), "--control"],
                                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.device = Scale._device_line(self._process.stdout.readline())

    _ask = AskedScale._ask
    put = AskedScale.put
    pull = AskedScale.pull
    plug = AskedScale.plug

    def reports(self):
        """Reports written so far (only while the program reads)."""
        return int(self._ask("counts").split("=")[1])

    def close(self):
        Scale.close(self)
        shutil.rmtree(self.root, ignore_errors=True)


class Display:
    """Xvfb on a free display number, optionally with openbox on it."""

    def __init__(self, window_manager=False, size="1280x1024x24"):
        read_fd, write_fd = os.pipe()
        # Without -noreset the server resets whenever its last client goes,
        # as each poll of an empty display does: the keymap is compiled anew
        # every time, and a program connecting during a reset was once left
        # without its display (Wine's desktop never came up).
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", size, "-nolisten", "tcp",
                                      "-noreset"], pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            number = f.readline().strip()
        self.name = ":" + number
        self.wm = None
        if window_manager:
            self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env(),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.5)

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        return env

    def xdotool(self, *args):
        """What xdotool prints for a question about this display."""
        return subprocess.run(["xdotool", *args], env=self.env(), capture_output=True, text=True).stdout

    def close(self):
        for p in (self.wm, self.xvfb):
            if p:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()


class Program:
    """The built program in a folder of its own, with the probe switched on."""

    def __init__(self, build_bin, display, setting, shots_dir=None, name="run", installed=None, env=None):
        """A copy of build_bin with the given "Setting.ini"; or, with
        installed, the program installed there (setting then goes to the
        user's own "Setting.ini"). env: variables added to its environment."""
        # The user's home lies apart from the program's folder, which may be
        # read-only as an installed program's is.
        self.home = tempfile.mkdtemp(prefix="tarvex-e2e-home-")
        if installed:
            self.folder = None
            self.executable = installed
            setting_file = os.path.join(self.home, ".config", "tarvex-scale", "Setting.ini")
            os.makedirs(os.path.dirname(setting_file))
        else:
            self.folder = tempfile.mkdtemp(prefix="tarvex-e2e-")
            self.executable = os.path.join(self.folder, "tarvex-scale")
            shutil.copy2(os.path.join(build_bin, "tarvex-scale"), self.folder)
            shutil.copytree(os.path.join(build_bin, "Language"), os.path.join(self.folder, "Language"))
            setting_file = os.path.join(self.folder, "Setting.ini")
        with open(setting_file, "w", encoding="utf-8", newline="") as f:
            f.write(setting)
        # As a careful administrator keeps a file that may hold a token or a password.
        os.chmod(setting_file, 0o600)
        self.watch(display, shots_dir, name)
        self.extra_env = dict(env or {})
        self.start()

    def watch(self, display, shots_dir, name):
        """Where the program shows itself, and where its screenshots go."""
        self.display = display
        self.probe_file = os.path.join(self.home, "probe.json")
        self.shots_dir = shots_dir
        self.name = name
        self.shot_count = 0
        self.process = None
        self.arguments = []
        self.extra_env = {}  # for the next start

    def start(self):
        """Starts the program (again) over the same folders."""
        if self.process and self.process.stdout and not self.process.stdout.closed:
            self.process.stdout.close()
        if os.path.exists(self.probe_file):
            os.remove(self.probe_file)
        env = self.display.env()
        env["TARVEX_UI_PROBE"] = self.probe_file
        env["HOME"] = self.home
        for variable in ("XDG_DATA_HOME", "XDG_CONFIG_HOME"):
            env.pop(variable, None)
        env.update(self.extra_env)
        self.process = subprocess.Popen([self.executable, *self.arguments], cwd=self.home, env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def kill(self):
        """Ends the program as a crash or a power cut would: no chance to tidy up."""
        self.process.send_signal(signal.SIGKILL)
        self.process.wait(5)
        if self.process.stdout:
            self.process.stdout.close()

    def cpu_seconds(self):
        """User and system time the program has used so far."""
        with open(f"/proc/{self.process.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def journal_folder(self):
        return os.path.join(self.home, ".local", "share", "tarvex-scale")

    # What is on screen --------------------------------------------------
    def windows(self):
        try:
            with open(self.probe_file, encoding="utf-8") as f:
                return json.load(f)["windows"]
        except (OSError, ValueError):
            return []

    def main(self):
        for w in self.windows():
            if w["class"] == "CScaleDlg" or any(c["id"] == OPEN_CLOSE for c in w["controls"]):
                return w
        return None

    def boxes(self):
        """Message boxes shown now (modal or not), newest last."""
        def is_box(w):
            ids = {c["id"] for c in w["controls"]}
            return MSG_TEXT in ids and OPEN_CLOSE not in ids  # the main window's unit group is 1019 too
        return [w for w in self.windows() if is_box(w)]

    def box_text(self, box):
        return next(c["label"] for c in box["controls"] if c["id"] == MSG_TEXT)

    def control(self, ident, window=None):
        window = window or self.main()
        if window is None:
            return None
        return next((c for c in window["controls"] if c["id"] == ident), None)

    def wait_main(self, timeout=10):
        return wait_until(self.main, timeout, "the main window")

    def wait_box(self, text_part=None, timeout=5):
        """A box showing the text, once it has stopped moving."""
        def find():
            for b in self.boxes():
                if text_part is None or text_part in self.box_text(b):
                    return b
            return None
        return steady(find, wait_until(find, timeout, f"a box saying {text_part!r}"))

    def wait_no_box(self, text_part, timeout=5):
        wait_until(lambda: not any(text_part in self.box_text(b) for b in self.boxes()), timeout,
                   f"the box saying {text_part!r} to go")

    def rows(self):
        lst = self.control(LIST)
        return lst["rows"] if lst else 0

    def last_row(self):
        lst = self.control(LIST)
        return lst["last"] if lst else []

    def cells(self):
        """Every row's texts, for tables of up to 200 rows."""
        lst = self.control(LIST)
        return lst.get("cells", []) if lst else []

    # Real input -----------------------------------------------------------
    def xdo(self, *args):
        subprocess.run(["xdotool", *args], env=self.display.env(), check=True)

    def click_at(self, x, y):
        # The pointer comes from elsewhere, as a hand's does: a GTK button
        # takes a click only after the pointer entered it, and a box that
        # appears under a resting pointer may never hear of the entry.
        self.xdo("mousemove", "0", "0")
        # xdotool's own --sync waits for a motion event, which never comes when
        # the pointer is already there.
        self.xdo("mousemove", str(x), str(y))
        wait_until(lambda: self.pointer() == (x, y), 3, "the pointer to arrive")
        time.sleep(0.05)
        self.xdo("click", "1")

    def pointer(self):
        fields = dict(line.split("=", 1) for line in self.display.xdotool("getmouselocation", "--shell").split())
        return int(fields["X"]), int(fields["Y"])

    def click(self, ident, window=None):
        control = wait_until(lambda: self.control(ident, window), 5, f"control {ident}")
        self.click_control(window or self.main(), control)

    def click_in_box(self, box, ident):
        """Clicks a button of a box; every button of a box closes it. A click
        the X server took while the box was still being mapped can be lost
        (seen once in many runs, with openbox): a box whose window is still on
        screen well after the click gets one more, and the log says so. A box
        that never closes still fails the test that waits for it to go."""
        button = next(c for c in box["controls"] if c["id"] == ident)
        self.click_control(box, button)
        if not box.get("xid"):
            return
        try:
            wait_until(lambda: self.mapped_origin(box) is None, 3, "the box to go")
        except Timeout:
            self.shot("click-not-taken")
            print(f"harness: CLICK NOT TAKEN by the box {self.box_text(box)!r}; clicking once more",
                  file=sys.stderr)
            self.click_control(box, button)

    def click_control(self, window, control):
        """Clicks the middle of a control where the X server has its window
        now: a window manager may still be moving a new window when the
        program last described it."""
        x, y, w, h = control["rect"]
        cx, cy = window["client"][:2]
        ox, oy = wait_until(lambda: self.mapped_origin(window), 3, "the window on screen") \
            if window.get("xid") else (cx, cy)
        self.click_at(ox + x - cx + w // 2, oy + y - cy + h // 2)

    def mapped_origin(self, window):
        """The window's client origin on the screen, once it is viewable."""
        out = subprocess.run(["xwininfo", "-id", str(window["xid"])], env=self.display.env(),
                             capture_output=True, text=True).stdout
        fields = dict(line.strip().split(":", 1) for line in out.splitlines() if ":" in line)
        if "IsViewable" not in fields.get("Map State", ""):
            return None
        return int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"])

    def key(self, *keys):
        self.xdo("key", "--delay", "60", *keys)

    def type(self, text):
        self.xdo("type", "--delay", "30", text)

    def choose(self, ident, entry):
        """Picks an entry of a drop-down list with the mouse and keyboard."""
        control = self.control(ident)
        self.click(ident)
        time.sleep(0.4)
        steps = entry - control["selection"]
        keys = ["Down"] * steps if steps > 0 else ["Up"] * (-steps)
        if keys:
            self.key(*keys)
        self.key("Return")
        wait_until(lambda: self.control(ident)["selection"] == entry, 3, f"entry {entry} of {ident}")

    def shot(self, label):
        if not self.shots_dir:
            return None
        os.makedirs(self.shots_dir, exist_ok=True)
        self.shot_count += 1
        path = os.path.join(self.shots_dir, f"{self.name}-{self.shot_count:02d}-{label}.png")
        subprocess.run(["import", "-display", self.display.name, "-window", "root", path], check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def focus(self, window):
        """Gives a window the keyboard: the window manager's activation where
        there is one, else the X input focus directly."""
        xid = str(window["xid"])
        if self.display.wm:
            self.xdo("windowactivate", "--sync", xid)
        else:
            self.xdo("windowfocus", "--sync", xid)
        time.sleep(0.1)

    def close_window(self):
        """Closes the main window as a user does."""
        self.close_box(self.main())

    def close_box(self, window):
        """The close box of a window: the window manager's close where there
        is one, else the message that a close box sends."""
        if self.display.wm:
            self.focus(window)
            self.key("alt+F4")
        else:
            send_delete_window(self.display.name, window["xid"])

    def save_dialog(self):
        return next((w for w in self.windows() if w["class"] == "wxFileDialog"), None)

    def save_as(self, path):
        """Types a name into the save dialog and presses Return. GTK completes
        a typed prefix of an existing name inline as text is inserted: a last
        character that matches nothing, taken back, keeps the name exactly as
        a clerk typed it."""
        dialog = wait_until(self.save_dialog, 5, "the save dialog")
        time.sleep(0.5)
        self.focus(dialog)
        self.key("ctrl+a")
        self.type(path + "~")
        time.sleep(0.3)
        self.key("BackSpace")
        time.sleep(0.3)
        self.key("Return")

    def wait_exit(self, timeout=5):
        return self.process.wait(timeout)

    def finish(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(3)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        output = ""
        if self.process.stdout and not self.process.stdout.closed:
            output = self.process.stdout.read().decode("utf-8", "replace")
            self.process.stdout.close()
        for folder in (self.folder, self.home):
            if not folder:
                continue
            for root, dirs, _ in os.walk(folder):
                for d in dirs:
                    os.chmod(os.path.join(root, d), 0o755)
            os.chmod(folder, 0o755)
            shutil.rmtree(folder, ignore_errors=True)
        return output


def setting_for(device, language="English", warning=None, full=None, feed=None, wedge=None, database=None,
                scale_keys=None):
    text = ""
    if language:
        text = (f"[Language_Configuration]\r\nLanguage_FileName=\\{language}.ini\r\nLanguage_Name="
                f"{'English' if language == 'English' else '简体中文'}\r\n")
    text += f"[Serial_Ports]\r\nDefaults=off\r\nCOM1={device}\r\n"
    if warning or full:
        text += f"[Test]\r\nWarning_Row={warning or 60000}\r\nFull_Row={full or 65000}\r\n"
    for section, keys in (("Feed", feed), ("Wedge", wedge), ("Database", database), ("Scale", scale_keys)):
        if keys:
            text += f"[{section}]\r\n" + "".join(f"{key}={value}\r\n" for key, value in keys.items())
    return text


class ProgramTest(unittest.TestCase):
    """One program and one scale per test, on a display of its own. Set
    build_bin (and shots_dir) on the class before running."""
    build_bin = None
    shots_dir = None

    def setUp(self):
        self.display = Display()
        self.program = None
        self.scale = None

    def tearDown(self):
        if self.program:
            self.program.shot("end")
            self.program.finish()
        if self.scale:
            self.scale.close()
        self.display.close()

    def start(self, scale, **setting):
        self.scale = scale
        self.program = Program(self.build_bin, self.display, setting_for(scale.link or scale.device, **setting),
                               self.shots_dir, self.id().split(".")[-1])
        self.program.wait_main()
        time.sleep(0.3)
        return self.program

    def restart(self):
        p = self.program
        p.start()
        p.wait_main()
        return p

    def connect(self, p, label="Disconnect"):
        p.choose(PORT_COMBO, 1)
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == label, 5, "the connection")


def run_tests():
    """python3 TEST.py BUILD_BIN [SHOTS_DIR] [unittest args]: every
    ProgramTest of the calling module."""
    ProgramTest.build_bin = os.path.abspath(sys.argv[1])
    ProgramTest.shots_dir = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
