"""Feed attack bench: the built program with its feed on loopback while a
scale streams 100 frames a second, attacked one way after another over
real sockets; the program's peak memory (VmHWM) after each.

    python3 bench/feed_attack_bench.py BUILD_BIN [--limit-s 20]

Prints one line per attack:
    attack=NAME peak_mb=P grown_mb=G answered="FIRST LINE" took_s=T acked=A of=N
(grown: the peak over the peak before any attack; answered: the feed's
first line to the attacker, if any, before the connection closed or the
attack's time ran out; acked: frames the scale had acknowledged of those it sent)."""

import argparse
import os
import select
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import OPEN_CLOSE, PORT_COMBO, Display, Program, Scale, setting_for, wait_until  # noqa: E402
from program_bench import free_port  # noqa: E402


def peak_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return 0


def attack(port, opening, filler, gap_s, limit_s):
    """Sends the opening, then the filler over and over (a piece every
    gap_s), until the feed closes or the time runs out; the first line it
    answered."""
    s = socket.create_connection(("127.0.0.1", port))
    s.settimeout(10)
    answer = b""
    deadline = time.monotonic() + limit_s
    try:
        s.sendall(opening)
        while time.monotonic() < deadline:
            s.sendall(filler)
            ready, _, _ = select.select([s], [], [], gap_s)
            if ready:
                got = s.recv(4096)
                if not got:
                    break
                answer += got
    except OSError:
        pass
    s.close()
    return answer.split(b"\r\n")[0].decode(errors="replace")


def slow_clients(port, count, limit_s):
    sockets = []
    for _ in range(count):
        try:
            sockets.append(socket.create_connection(("127.0.0.1", port), timeout=2))
        except OSError:
            break
    # Those the feed turns away are told within a second.
    turned_away = 0
    for s in sockets:
        if select.select([s], [], [], 0 if turned_away else 1)[0]:
            try:
                turned_away += s.recv(64).startswith(b"HTTP/1.1 503")
            except OSError:
                pass
    # A normal client meanwhile: served, told 503, or left waiting.
    began = time.monotonic()
    try:
        normal = socket.create_connection(("127.0.0.1", port), timeout=limit_s)
        normal.sendall(b"GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
        first = normal.recv(64).split(b"\r\n")[0].decode(errors="replace") or "closed"
        normal.close()
    except OSError as error:
        first = f"no answer ({error})"
    normal_s = time.monotonic() - began
    deadline = time.monotonic() + limit_s
    while time.monotonic() < deadline:
        for s in sockets:
            try:
                s.send(b"X")
            except OSError:
                pass
        time.sleep(1)
    for s in sockets:
        s.close()
    return f"{len(sockets)} connected, {turned_away} told 503; a normal client: {first} after {normal_s:.2f} s"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_bin")
    parser.add_argument("--limit-s", type=float, default=20)
    args = parser.parse_args()
    display = Display()
    scale = Scale(interval=0.01)
    port = free_port()
    program = Program(os.path.abspath(args.build_bin), display,
                      setting_for(scale.device, feed={"Http": f"127.0.0.1:{port}"}), name="attack")
    try:
        program.wait_main()
        program.choose(PORT_COMBO, 1)
        program.click(OPEN_CLOSE)
        wait_until(lambda: program.control(OPEN_CLOSE)["label"] == "Disconnect", 10, "the link")
        time.sleep(1)
        base = peak_mb(program.process.pid)
        mib = b"a" * (1 << 20)
        attacks = [
            ("endless_request_line", lambda: attack(port, b"GET /", mib, 0, args.limit_s)),
            ("endless_header_line", lambda: attack(port, b"GET / HTTP/1.1\r\nX-Endless: ", mib, 0, args.limit_s)),
            ("ten_thousand_header_lines",
             lambda: attack(port, b"GET / HTTP/1.1\r\n" + b"X-A: b\r\n" * 10000, b"X-A: b\r\n", 0, args.limit_s)),
            ("trickle_a_byte_a_second", lambda: attack(port, b"GET / HTTP/1.1\r\n", b"X", 1.0, args.limit_s)),
            ("two_hundred_slow_clients", lambda: slow_clients(port, 200, args.limit_s)),
            ("post_with_a_body",
             lambda: attack(port, b"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 209715200\r\n\r\n", mib, 0,
                            args.limit_s)),
        ]
        for name, run in attacks:
            began = time.monotonic()
            answered = run()
            took = time.monotonic() - began
            counts = scale.counts()
            peak = peak_mb(program.process.pid)
            print(f'attack={name} peak_mb={peak:.0f} grown_mb={peak - base:.0f} answered="{answered}" '
                  f'took_s={took:.1f} acked={counts["acks"]} of={counts["frames"]}', flush=True)
    finally:
        program.finish()
        scale.close()
        display.close()


if __name__ == "__main__":
    main()
