"""USB scale bench: the built program on a virtual display reads the
simulator's USB scale (tarvex-scale-sim --hid, a separate process) that
reports 50 times a second, with the live feed on.

    python3 bench/usb_scale_bench.py BUILD_BIN [--parcels 10] [--seconds 20] [--report-ms 20]

Prints
    settle_to_row_ms median=M max=X parcels=N   (the platter still, its first stable report on its
                                                 way, to its row's event on /readings/stream;
                                                 the take rule's Settle_Ms of 500 included)
    reports_per_second=R cpu_us_per_report=C idle_cpu_ms_per_s=I
                                                (the program's user+system time while the scale
                                                 reports an unchanging weight, less the same span
                                                 of the program connected to nothing: I)"""

import argparse
import json
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import LIVE_STATE, OPEN_CLOSE, PORT_COMBO, Display, Program, UsbScale, setting_for, wait_until  # noqa: E402
from program_bench import StreamClient, cpu_seconds, free_port, percentiles  # noqa: E402
from test_feed import get  # noqa: E402

SWAY_S = 0.6  # the simulator's platter sways this long after a parcel is put on


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_bin")
    parser.add_argument("--parcels", type=int, default=10)
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--report-ms", type=int, default=20)
    args = parser.parse_args()

    scale = UsbScale("kg", report_ms=args.report_ms)
    display = Display()
    port = free_port()
    program = Program(os.path.abspath(args.build_bin), display, setting_for("", feed={"Http": f"127.0.0.1:{port}"}),
                      name="usb-bench", env={"TARVEX_HID_ROOT": scale.root})
    try:
        program.wait_main()
        wait_until(lambda: get(port, "/weight")[0] in (200, 204), 10, "the feed")
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
        reports_before, cpu_before, began = scale.reports(), cpu_seconds(program.process.pid), time.monotonic()
        time.sleep(args.seconds)
        elapsed = time.monotonic() - began
        reports = scale.reports() - reports_before
        cpu = cpu_seconds(program.process.pid) - cpu_before - idle_per_second * elapsed
        print(f"reports_per_second={reports / elapsed:.1f} cpu_us_per_report={1e6 * max(cpu, 0) / max(reports, 1):.0f} "
              f"idle_cpu_ms_per_s={1e3 * idle_per_second:.1f}")
        client.close()
    finally:
        program.finish()
        scale.close()
        display.close()


if __name__ == "__main__":
    main()
