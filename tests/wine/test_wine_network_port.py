"""The installed Windows program reads a scale behind a serial device server
under Wine: Debian's ser2net on loopback (RFC 2217) in front of the test's
scale, named in the user's Setting.ini as COM12; the program uses the
host's sockets through Wine. The server is stopped while connected (one
report, the watch) and started again (the link back, readings on, each
acknowledged reading one row).

    python3 tests/wine/test_wine_network_port.py INSTALLED_EXE SHOTS_DIR"""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_wine_program  # noqa: E402
from harness import OPEN_CLOSE, PORT_COMBO, REFRESH, STATUS, wait_until  # noqa: E402
from ser2net import Ser2net, free_loopback_port  # noqa: E402
from test_wine_program import WineReadsAScale, write_user_settings  # noqa: E402

NETWORK_COM = 12


class WineNetworkPort(WineReadsAScale):
    def setUp(self):
        self.server_port = free_loopback_port()
        self.address = f"127.0.0.1:{self.server_port}"
        self.settings = write_user_settings(f"[Serial_Ports]\r\nCOM{NETWORK_COM}=rfc2217://{self.address}\r\n")
        self.server = None
        super().setUp()
        # The scale is reached only through the server: its COM9 link goes.
        os.remove(self.link)
        self.server = Ser2net(self.scale.device, True, self.server_port)

    def tearDown(self):
        super().tearDown()
        if self.server:
            self.server.close()
        for setting in self.settings:
            os.remove(setting)

    def status(self):
        return self.program.control(STATUS)["label"]

    def test_readings_through_a_device_server_that_goes_and_returns(self):
        p = self.program
        p.wait_main(test_wine_program.START_LIMIT)
        name = f"COM{NETWORK_COM}"
        p.click(REFRESH)  # the server started after the program
        wait_until(lambda: name in p.control(PORT_COMBO)["items"], 30, f"{name} in the port list")
        p.choose(PORT_COMBO, p.control(PORT_COMBO)["items"].index(name))
        p.click(OPEN_CLOSE)
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Disconnect", 10, "the connection")
        self.assertIn(f"Connected to {name} ({self.address})", self.status())
        self.readings(20)
        p.shot("wine-through-ser2net")
        self.server.stop()
        wait_until(lambda: f"Waiting for {name} ({self.address}) to come back..." in self.status(), 20, "the watch")
        report = f"Port: {NETWORK_COM} ({self.address})"
        p.wait_box(report, 10)
        self.assertEqual(len(p.boxes()), 1, "one report")
        p.shot("wine-device-server-gone")
        self.server.start()
        wait_until(lambda: p.control(OPEN_CLOSE)["label"] == "Disconnect", 10, "the link back")
        p.wait_no_box(report, 10)  # the report goes as the link returns
        self.readings(20)
        self.disconnect()
        self.assertLessEqual(len(self.watch.seen), 1, "more than the one report")
        numbers = [int(cells[0]) for cells in p.cells()]
        self.assertEqual(numbers, list(range(1, len(numbers) + 1)))


if __name__ == "__main__":
    class Arguments:
        installed, shots, modem_lines = sys.argv[1], sys.argv[2], None
    test_wine_program.ARGS = Arguments
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2,
                  defaultTest="WineNetworkPort.test_readings_through_a_device_server_that_goes_and_returns")
