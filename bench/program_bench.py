"""Whole-program bench: the built program on a virtual display answers a
scale on a pseudo-terminal that sends a weight frame at a fixed rate.

    python3 bench/program_bench.py BUILD_BIN [--rate 137] [--seconds 30]

Prints  program_latency_us median=M p99=P frames=N lost=L cpu_ms_per_frame=C
(latency: frame written by the scale to its 0x9F read back; CPU: the
program's user+system time over the stream, per frame)."""

import argparse
import os
import select
import sys
import time
import tty

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import OPEN_CLOSE, PORT_COMBO, Display, Program, setting_for, weight_frame  # noqa: E402


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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_bin")
    parser.add_argument("--rate", type=float, default=137)
    parser.add_argument("--seconds", type=float, default=30)
    # For a build without the UI probe (an older one, to compare): where the
    # open button is on the screen; the automatic search then finds COM1.
    parser.add_argument("--click-at", help="X,Y of the open button")
    args = parser.parse_args()

    master, slave = os.openpty()
    tty.setraw(slave)
    display = Display()
    program = Program(os.path.abspath(args.build_bin), display, setting_for(os.ttyname(slave)), name="bench")
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
        open(program.probe_file + ".stop", "w").close()

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
            os.write(master, weight_frame(1.0 + (k % 100) * 0.01))
            answered = read_until(master, b"\x9f", 1.0)
            if answered is None:
                lost += 1
            else:
                latencies.append((answered - sent) * 1e6)
        cpu = cpu_seconds(program.process.pid) - cpu_before
    finally:
        program.finish()
        display.close()
        os.close(master)
        os.close(slave)

    latencies.sort()
    median = latencies[len(latencies) // 2] if latencies else 0
    p99 = latencies[min(len(latencies) - 1, len(latencies) * 99 // 100)] if latencies else 0
    print(f"program_latency_us median={median:.1f} p99={p99:.1f} frames={frames} lost={lost} "
          f"cpu_ms_per_frame={cpu * 1000 / max(frames, 1):.3f}")


if __name__ == "__main__":
    main()
