"""The bridge ("open HOST PORT [time-outs]") run for real: corvel_x64.exe under
Wine, a pty as the serial device behind COM<n>, and a real Windows process as
the host."""

import pathlib
import statistics
import tempfile
import termios
import time
import unittest

import winebed
from bridgebed import Bridge, assert_both_ways_at_once, settle

class BridgeFixture(unittest.TestCase):
    """A device, a host and a running bridge between them, for each test."""

    timeouts = ()

    def setUp(self):
        self.port = winebed.PtyPort().__enter__()
        self.addCleanup(self.port.__exit__, None, None, None)
        self.host = winebed.HostProcess().__enter__()
        self.addCleanup(self.host.__exit__, None, None, None)
        self.bridge = Bridge(self.host.name, self.port.number, *self.timeouts)
        self.addCleanup(self.bridge.close)
        settle(self.bridge, self.port)


class BytesPassUnchanged(BridgeFixture):
    every_value = bytes(range(256)) * 8  # zero bytes, CR, LF, XON/XOFF, 0xFF...

    def test_host_to_device(self):
        self.bridge.send(self.every_value)
        self.assertEqual(self.port.read_exactly(len(self.every_value)), self.every_value)

    def test_device_to_host(self):
        self.port.write(self.every_value)
        self.bridge.stdout.wait_for(len(self.every_value))
        self.assertEqual(bytes(self.bridge.stdout.data), self.every_value)

    def test_both_directions_at_once_beyond_one_buffer(self):
        # Far more than the 4096 bytes one read moves.
        assert_both_ways_at_once(self, self.bridge, self.port, 1 << 20, "bridged")

    def test_device_keeps_flowing_after_stdin_ends(self):
        self.bridge.process.stdin.close()
        time.sleep(0.3)
        self.port.write(b"still here\n")
        self.bridge.stdout.wait_for(11)
        self.assertEqual(bytes(self.bridge.stdout.data), b"still here\n")


class EndsWithTheHost(unittest.TestCase):
    """The name rule: these bridges are started by the test, from outside
    Wine, so no process above corvel has the host's name (a host above corvel
    is test_host_ancestry.py's)."""

    def setUp(self):
        self.port = winebed.PtyPort().__enter__()
        self.addCleanup(self.port.__exit__, None, None, None)

    def test_ends_soon_after_the_host_is_killed(self):
        delays = []
        for _ in range(3):
            with winebed.HostProcess() as host:
                bridge = Bridge(host.name, self.port.number)
                self.addCleanup(bridge.close)
                settle(bridge, self.port)
                died = host.kill()
                self.assertEqual(bridge.wait(timeout=10), 0)
                delays.append(time.monotonic() - died)
                self.assertEqual(bridge.stderr(), b"")
        print(f"\n  ended {', '.join(f'{d * 1000:.0f}' for d in delays)} ms after the host died")
        # One look every 500 ms, then at most 50 ms until the main thread sees it.
        self.assertLess(max(delays), 1.5)

    def test_ends_at_once_when_no_host_runs(self):
        cases = [("no such process", "nohost-corvel.exe"),
                 ("host name in another case", None)]
        for what, name in cases:
            with self.subTest(what), winebed.HostProcess() as host:
                name = name or host.name.upper()
                bridge = Bridge(name, self.port.number)
                self.addCleanup(bridge.close)
                started = time.monotonic()
                self.assertEqual(bridge.wait(timeout=10), 0)
                self.assertLess(time.monotonic() - started, 3.0)
                self.assertEqual(bytes(bridge.stdout.data), b"")

    def test_any_process_of_that_name_keeps_it_alive(self):
        with winebed.HostProcess() as first, winebed.HostProcess(first.name) as second:
            bridge = Bridge(first.name, self.port.number)
            self.addCleanup(bridge.close)
            settle(bridge, self.port)
            first.kill()
            time.sleep(1.5)
            self.assertIsNone(bridge.process.poll(), "ended while a host of that name ran")
            second.kill()
            self.assertEqual(bridge.wait(timeout=10), 0)


class RefusesUnusablePorts(unittest.TestCase):
    def test_exit_code_2_at_once_with_nothing_written(self):
        with winebed.HostProcess() as host:
            cases = [
                ("port 0", [host.name, "0"]),
                ("no host and no port", []),
                ("no port", [host.name]),
                ("port not a number", [host.name, "abc"]),
                ("port that does not exist", [host.name, "97"]),
                ("negative port", [host.name, "-3"]),
            ]
            for what, args in cases:
                with self.subTest(what):
                    run = winebed.run_program("open", *args, timeout=20)
                    self.assertEqual((run.returncode, run.stdout, run.stderr), (2, b"", b""))
                    self.assertLess(run.seconds, 5.0)

    def test_exit_code_2_when_the_port_refuses_its_settings(self):
        # Wine opens whatever file a COM name links to, but one that is not a
        # terminal refuses the line settings, as a driver may on Windows.
        with tempfile.TemporaryDirectory() as folder, winebed.HostProcess() as host:
            plain = pathlib.Path(folder) / "plain"
            plain.write_bytes(b"")
            for what, target in [("/dev/null", "/dev/null"), ("a regular file", plain)]:
                with self.subTest(what):
                    number, link = winebed.link_com(target)
                    try:
                        run = winebed.run_program("open", host.name, str(number),
                                                  stdin=b"for the device", timeout=20)
                    finally:
                        link.unlink()
                    # Ended (with its host still running), said nothing, and
                    # relayed nothing to the port.
                    self.assertEqual((run.returncode, run.stdout, run.stderr), (2, b"", b""))
                    self.assertLess(run.seconds, 5.0)
                    self.assertEqual(plain.read_bytes(), b"")


class LineAsTheDeviceSeesIt(unittest.TestCase):
    """The settings that reached the line, read on the device's side of the
    pty while the bridge runs. The pty starts out unlike each of them, so each
    one is there because the bridge set it."""

    def test_9600_8n1_no_flow_control_raw(self):
        with winebed.PtyPort() as port, winebed.HostProcess() as host:
            attrs = termios.tcgetattr(port.slave)
            attrs[0] |= termios.IXON | termios.IXOFF | termios.ICRNL | termios.ISTRIP
            attrs[1] |= termios.OPOST
            attrs[2] = ((attrs[2] & ~termios.CSIZE) | termios.CS7 | termios.PARENB
                        | termios.CSTOPB | termios.CRTSCTS)
            attrs[3] |= termios.ICANON | termios.ECHO | termios.ISIG | termios.IEXTEN
            attrs[4] = attrs[5] = termios.B115200
            termios.tcsetattr(port.slave, termios.TCSANOW, attrs)
            bridge = Bridge(host.name, port.number)
            self.addCleanup(bridge.close)
            settle(bridge, port)
            iflag, oflag, cflag, lflag, ispeed, ospeed, _ = termios.tcgetattr(port.slave)
        seen = {
            "speed in, out": (ispeed, ospeed),
            "data bits": cflag & termios.CSIZE,
            "parity": cflag & (termios.PARENB | termios.PARODD),
            "two stop bits": cflag & termios.CSTOPB,
            "RTS/CTS flow control": cflag & termios.CRTSCTS,
            "XON/XOFF flow control": iflag & (termios.IXON | termios.IXOFF),
            "input changes": iflag & (termios.ICRNL | termios.INLCR | termios.IGNCR
                                      | termios.ISTRIP),
            "output processing": oflag & termios.OPOST,
            "line editing, echo, signals": lflag & (termios.ICANON | termios.ECHO
                                                    | termios.ISIG | termios.IEXTEN),
        }
        print(f"\n  iflag 0x{iflag:x} oflag 0x{oflag:x} cflag 0x{cflag:x} lflag 0x{lflag:x}"
              f" speed {ispeed}/{ospeed}")
        self.assertEqual(seen, {
            "speed in, out": (termios.B9600, termios.B9600),
            "data bits": termios.CS8,
            "parity": 0,
            "two stop bits": 0,
            "RTS/CTS flow control": 0,
            "XON/XOFF flow control": 0,
            "input changes": 0,
            "output processing": 0,
            "line editing, echo, signals": 0,
        })


class TimeoutsShapeLatency(unittest.TestCase):
    """The read time-outs decide how long a lone byte from the device waits."""

    def latencies(self, *timeouts):
        with winebed.PtyPort() as port, winebed.HostProcess() as host:
            bridge = Bridge(host.name, port.number, *timeouts)
            self.addCleanup(bridge.close)
            settle(bridge, port)
            # Each byte is sent just after the previous one came out, so it
            # meets a port read that has just begun.
            port.write(b"a")
            bridge.stdout.wait_for(1)
            delays = []
            for count in range(2, 7):
                sent = time.monotonic()
                port.write(b"b")
                delays.append(bridge.stdout.wait_for(count) - sent)
            return delays

    def test_default_read_timeouts_pass_bytes_promptly(self):
        delays = self.latencies()
        print(f"\n  defaults: {', '.join(f'{d * 1000:.0f}' for d in delays)} ms")
        self.assertLess(statistics.median(delays), 0.1)

    def test_read_constant_is_the_second_time_out_argument(self):
        delays = self.latencies(0, 500)
        print(f"\n  read constant 500: {', '.join(f'{d * 1000:.0f}' for d in delays)} ms")
        self.assertGreater(statistics.median(delays), 0.35)
        self.assertLess(statistics.median(delays), 1.0)


if __name__ == "__main__":
    unittest.main()
