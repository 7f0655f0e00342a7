"""Live scale bench: the built program on a virtual display reads a scale
of the simulator (a separate process) with the live feed on: its USB
scale (tarvex-scale-sim --hid) reporting every --report-ms, or a scale that
is asked (--scale mt-sics, toledo, nci) every Poll_Ms on a pseudo-terminal.

    python3 bench/live_scale_bench.py BUILD_BIN [--scale usb] [--parcels 10] [--seconds 20]
                                      [--report-ms 20] [--poll-ms 200]

Prints
    settle_to_row_ms median=M max=X parcels=N   (the platter still, to its row's event on
                                                 /readings/stream; Settle_Ms of 500 included)
    answers_per_second=R cpu_us_per_answer=C idle_cpu_ms_per_s=I
                                                (reports or answered polls; the program's
                                                 user+system time while the scale says an
                                                 unchanging weight, less the same span of the
                                                 program connected to nothing: I)"""

import argparse
import json
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (LIVE_STATE, OPEN_CLOSE, PORT_COMBO, AskedScale, Display, Program, UsbScale,  # noqa: E402
                     setting_for, wait_until)
from program_bench import StreamClient, cpu_seconds, free_port, percentiles  # noqa: E402
from test_feed import get  # noqa: E402

SWAY_S = 0.6  # the simulator's platter sways this long after a parcel is put on (both kinds)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_bin")
    parser.add_argument("--parcels", type=int, default=10)
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--report-ms", type=int, default=20)
    parser.add_argument("--scale", default="usb", choices=["usb", "mt-sics", "toledo", "nci"])
    parser.add_argument("--poll-ms", type=int, default=200)
    args = parser.parse_args()

    display = Display()
    port = free_port()
    feed = {"Http": f"127.0.0.1:{port}"}
    if args.scale == "usb":
        scale = UsbScale("kg", report_ms=args.report_ms)
        setting, env = setting_for("", feed=feed), {"TARVEX_HID_ROOT": scale.root}

        def answers():
            return scale.reports()
    else:
        scale = AskedScale(args.scale, "kg")
        keys = {"Protocol": args.scale, "Poll_Ms": args.poll_ms, "Unit": "kg"}
        setting, env = setting_for(scale.device, feed=feed, scale_keys=keys), {}

        def answers():
            return scale.counts()["polls"]
    program = Program(os.path.abspath(args.build_bin), display, setting, name="live-bench", env=env)
    try:
        program.wait_main()
        def feed_up():
            try:
                return get(port, "/weight")[0] in (200, 204)
            except OSError:
                return False
        wait_until(feed_up, 10, "the feed")
        open(program.probe_file + ".stop", "w").close()
        idle_before = cpu_seconds(program.process.pid)
        time.sleep(args.seconds / 2)
        idle_per_second = (cpu_seconds(program.process.pid) - idle_before) / (args.seconds / 2)
        os.remove(program.probe_file + ".stop")
        program.choose(PORT_COMBO, 1)
        program.click(OPEN_CLOSE)
        wait_until(lambda: program.control(LIVE_STATE)["label"] == "stable", 10, "the scale's first report")
        open(program.probe_file + ".stop", "w").close()
        client = StreamClient(port)

        def live():
            return json.loads(get(port, "/weight")[2])

        delays = []
        for n in range(args.parcels):
            count = len(client.arrived)
            scale.put(1.0 + 0.25 * n)
            still = time.monotonic() + SWAY_S
            wait_until(lambda: len(client.arrived) > count, 5, f"the row of parcel {n + 1}")
            delays.append((max(client.arrived.values()) - still) * 1000)
            scale.put(0)
            wait_until(lambda: live()["state"] == "stable" and live()["kg"] == 0, 5, "an empty scale")
        median, _ = percentiles(delays)
        print(f"settle_to_row_ms median={median:.0f} max={max(delays):.0f} parcels={len(delays)}")

        scale.put(2.0)
        wait_until(lambda: live()["state"] == "stable", 5, "a steady weight")
        said_before, cpu_before, began = answers(), cpu_seconds(program.process.pid), time.monotonic()
        time.sleep(args.seconds)
        elapsed = time.monotonic() - began
        said = answers() - said_before
        cpu = cpu_seconds(program.process.pid) - cpu_before - idle_per_second * elapsed
        print(f"answers_per_second={said / elapsed:.1f} cpu_us_per_answer={1e6 * max(cpu, 0) / max(said, 1):.0f} "
              f"idle_cpu_ms_per_s={1e3 * idle_per_second:.1f}")
        client.close()
    finally:
        program.finish()
        scale.close()
        display.close()


if __name__ == "__main__":
    main()
