"""Whole-program bench: the built program on a virtual display answers a
scale on a pseudo-terminal that sends a weight frame at a fixed rate.

    python3 bench/program_bench.py BUILD_BIN [--rate 137] [--seconds 30] [--feed-clients 10] [--typing]

Prints  program_latency_us median=M p99=P frames=N lost=L cpu_ms_per_frame=C
(latency: frame written by the scale to its 0x9F read back; CPU: the
program's user+system time over the stream, per frame). With feed clients,
the HTTP feed is on and that many clients read its stream; then also
    feed_latency_us median=M p99=P clients=K lost=L
(frame written by the scale to its event read by a client, every client's
every event). With --typing, typing is on (under openbox) into another
program's text field (tests/e2e/text_field.py) in front; then also
    typing_latency_us median=M p99=P typed=T of=N
(the scale's 0x9F read back to the Enter after the weight in the field).
With --database, readings also go to a PostgreSQL server of the bench's own
(tests/e2e/postgres.py), which another connection (psql, some 20 ms a
question) asks for the newest seq over and over; then also
    database_ack_to_visible_us median=M p99=P rows=R of=N
(the scale's 0x9F read back to the reading seen in the table)."""

import argparse
import multiprocessing
import os
import select
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import OPEN_CLOSE, PORT_COMBO, Display, Program, setting_for, weight_frame  # noqa: E402
from postgres import Postgres  # noqa: E402


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def read_until(fd, wanted, timeout):
    deadline = time.monotonic() + timeout
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return None
        ready, _, _ = select.select([fd], [], [], left)
        if ready and wanted in os.read(fd, 256):
            return time.monotonic()


class StreamClient(threading.Thread):
    """Reads the feed's stream over a plain socket; notes when each id came."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.sock.sendall(b"GET /readings/stream HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n\r\n")
        self.arrived = {}
        self.start()

    def run(self):
        pending = b""
        while True:
            try:
                piece = self.sock.recv(65536)
            except OSError:
                return
            if not piece:
                return
            now = time.monotonic()
            pending += piece
            lines = pending.split(b"\n")
            pending = lines.pop()
            for line in lines:
                if line.startswith(b"id: "):
                    self.arrived[int(line[4:])] = now

    def close(self):
        self.sock.close()


def read_streams(port, count, ready, stop, results):
    """A process of its own, so that the clients share no lock with the
    scale's side of the bench: count clients, then when each id came."""
    clients = [StreamClient(port) for _ in range(count)]
    ready.set()
    stop.wait()
    time.sleep(1)  # the last events on their way
    for client in clients:
        client.close()
    results.put([client.arrived for client in clients])


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def percentiles(values):
    values = sorted(values)
    if not values:
        return 0, 0
    return values[len(values) // 2], values[min(len(values) - 1, len(values) * 99 // 100)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_bin")
    parser.add_argument("--rate", type=float, default=137)
    parser.add_argument("--seconds", type=float, default=30)
    # For a build without the UI probe (an older one, to compare): where the
    # open button is on the screen; the automatic search then finds COM1.
    parser.add_argument("--click-at", help="X,Y of the open button")
    parser.add_argument("--feed-clients", type=int, default=0)
    parser.add_argument("--typing", action="store_true")
    parser.add_argument("--database", action="store_true")
    # The database on, nobody asking it: the program's own cost alone.
    parser.add_argument("--no-watch", action="store_true")
    args = parser.parse_args()

    master, slave = os.openpty()
    tty.setraw(slave)
    display = Display(window_manager=args.typing)
    port = free_port()
    feed = {"Http": f"127.0.0.1:{port}"} if args.feed_clients else None
    wedge = {"Enabled": 1} if args.typing else None
    field, times_file = None, None
    if args.typing:
        folder = tempfile.mkdtemp(prefix="tarvex-bench-field-")
        times_file = os.path.join(folder, "times")
        field = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                                               "tests", "e2e", "text_field.py"),
                                  os.path.join(folder, "text"), "--times", times_file], env=display.env())
    server = Postgres() if args.database else None
    database = {"Connection": server.connection()} if server else None
    seen_at, watching = {}, threading.Event()

    def watch_table():
        """When each seq was first seen in the table."""
        known = 0
        while watching.is_set():
            newest = int(server.rows("SELECT coalesce(max(seq), 0) FROM readings")[0][0])
            now = time.monotonic()
            for seq in range(known + 1, newest + 1):
                seen_at[seq] = now
            known = max(known, newest)

    program = Program(os.path.abspath(args.build_bin), display,
                      setting_for(os.ttyname(slave), feed=feed, wedge=wedge, database=database), name="bench")
    watcher = None
    sent_at, answered_at, arrivals, reader = [], [], [], None
    stop, results = multiprocessing.Event(), multiprocessing.Queue()
    try:
        if args.click_at:
            time.sleep(2)
            program.click_at(*map(int, args.click_at.split(",")))
        else:
            program.wait_main()
            time.sleep(0.5)
            program.choose(PORT_COMBO, 1)
            program.click(OPEN_CLOSE)
        if read_until(master, b"\x5a", 5) is None:
            sys.exit("the program never greeted the scale")
        os.write(master, b"\xa5")
        time.sleep(0.5)
        if field:
            xid = display.xdotool("search", "--class", "TextField").split()[-1]
            subprocess.run(["xdotool", "windowactivate", "--sync", xid], env=display.env(), check=True)
            time.sleep(0.5)
        if args.feed_clients:
            ready = multiprocessing.Event()
            reader = multiprocessing.Process(target=read_streams, args=(port, args.feed_clients, ready, stop, results))
            reader.start()
            ready.wait(10)
            time.sleep(0.5)
        open(program.probe_file + ".stop", "w").close()
        if server and not args.no_watch:
            watching.set()
            watcher = threading.Thread(target=watch_table, daemon=True)
            watcher.start()

        latencies, lost = [], 0
        frames = int(args.rate * args.seconds)
        cpu_before = cpu_seconds(program.process.pid)
        start = time.monotonic()
        for k in range(frames):
            slot = start + k / args.rate
            delay = slot - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            sent = time.monotonic()
            sent_at.append(sent)
            os.write(master, weight_frame(1.0 + (k % 100) * 0.01))
            answered = read_until(master, b"\x9f", 1.0)
            answered_at.append(answered)
            if answered is None:
                lost += 1
            else:
                latencies.append((answered - sent) * 1e6)
        cpu = cpu_seconds(program.process.pid) - cpu_before
        if reader:
            stop.set()
            arrivals = results.get(timeout=30)
            reader.join(10)
        if field:
            time.sleep(2)  # the last weights on their way into the field
        if watcher:
            deadline = time.monotonic() + 30
            while len(seen_at) < frames and time.monotonic() < deadline:
                time.sleep(0.1)
    finally:
        if watcher:
            watching.clear()
            watcher.join(10)
        program.finish()
        if field:
            field.terminate()
            field.wait(5)
        display.close()
        os.close(master)
        os.close(slave)
        if server:
            server.remove()

    median, p99 = percentiles(latencies)
    print(f"program_latency_us median={median:.1f} p99={p99:.1f} frames={frames} lost={lost} "
          f"cpu_ms_per_frame={cpu * 1000 / max(frames, 1):.3f}")
    if arrivals:
        # seq k + 1 is the k-th frame: a fresh home, a fresh count.
        feed_latencies, feed_lost = [], 0
        for arrived_at in arrivals:
            for k, sent in enumerate(sent_at):
                arrived = arrived_at.get(k + 1)
                if arrived is None:
                    feed_lost += 1
                else:
                    feed_latencies.append((arrived - sent) * 1e6)
        median, p99 = percentiles(feed_latencies)
        print(f"feed_latency_us median={median:.1f} p99={p99:.1f} clients={len(arrivals)} lost={feed_lost}")
    if server and not args.no_watch:
        # seq k + 1 is the k-th frame: a fresh home, a fresh count.
        delays = [(seen_at[k + 1] - answered) * 1e6 for k, answered in enumerate(answered_at)
                  if answered is not None and k + 1 in seen_at]
        median, p99 = percentiles(delays)
        print(f"database_ack_to_visible_us median={median:.1f} p99={p99:.1f} rows={len(seen_at)} of={frames}")
    if times_file:
        # The n-th line ended in the field is the n-th weight typed; the
        # frames all carry weights, so it is the n-th frame unless one was
        # dropped, which the count shows.
        with open(times_file) as f:
            ended = [float(line.split()[1]) for line in f]
        typing = [(at - answered_at[k]) * 1e6 for k, at in enumerate(ended)
                  if k < len(answered_at) and answered_at[k] is not None]
        median, p99 = percentiles(typing)
        print(f"typing_latency_us median={median:.1f} p99={p99:.1f} typed={len(ended)} of={frames}")


if __name__ == "__main__":
    main()
