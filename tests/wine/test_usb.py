"""The program against a real USB serial device, in the guest of
scripts/test-x32.sh: a gadget on the kernel's emulated USB controller, which
the kernel's cdc_acm driver serves as ttyACM, plugged and unplugged by
usbplug as Windows' Plug and Play would record it. What reaches the wire is
read from usbmon.

Each case uses its own product id and serial number. Needs root, the USB
modules and a prefix made before any ttyACM existed (Wine would map one
present at its start as a COM port of its own)."""

import fcntl
import os
import termios
import threading
import time
import unittest

import usbplug
import winebed
from bridgebed import Bridge, assert_both_ways_at_once, settle
from usbplug import ACM, GENERIC_SERIAL, SET_CONTROL_LINE_STATE, SET_LINE_CODING

EXIT_PORT_LOST = 3
EMULATED_EXIT_LIMIT_S = 2.0
# How long bytes may sit in the host side's tty before the bridge has read
# them: its read time-out and pause (20 ms) and, under emulation, the
# kernel's work queue moving them from the flip buffers.
RECENT_S = 0.05
VENDOR = "0483"
# SET_LINE_CODING's data for 9600 baud, one stop bit, no parity, 8 data bits.
CODING_9600_8N1 = bytes.fromhex("80250000000008")
DTR_ON_RTS_OFF = 0x0001


def lines_of(run):
    return run.stdout.decode("ascii").splitlines()


HOST = winebed.HostProcess()


def setUpModule():
    # One host for every bridge here: starting a Windows process costs
    # seconds under emulation.
    HOST.__enter__()


def tearDownModule():
    HOST.__exit__(None, None, None)


class PluggedDevice(unittest.TestCase):
    """A device plugged in, for each test, and the host."""

    product = None
    functions = (ACM,)

    def setUp(self):
        started = time.monotonic()
        self.addCleanup(lambda: print(f"\n  {self.id().split('.')[-1]}:"
                                      f" {time.monotonic() - started:.1f} s"))
        self.device = usbplug.UsbSerialDevice(VENDOR, self.product, f"CORVEL{self.product}",
                                              self.functions)
        self.addCleanup(self.device.__exit__, None, None, None)
        self.device.plug()
        self.host = HOST

    def bridge(self, *timeouts, keep=True):
        bridge = Bridge(self.host.name, self.device.number, *timeouts, keep=keep)
        self.addCleanup(bridge.close)
        settle(bridge, self.device)
        return bridge


class Lookup(PluggedDevice):
    product = "5740"

    def assert_present_at(self, number):
        identifier = self.device.identifier()
        self.assertEqual(winebed.run_program("getUSBPort", identifier).stdout,
                         f"{identifier} {number}\n".encode())
        listed = [line for line in lines_of(winebed.run_program("listUSBPorts"))
                  if line.split()[0] == identifier]
        self.assertEqual(listed, [f"{identifier} {number}"])

    def test_found_while_plugged_then_gone_then_at_its_new_port(self):
        identifier = self.device.identifier()
        first = self.device.number
        self.assert_present_at(first)
        self.device.unplug()
        self.assertEqual(winebed.run_program("getUSBPort", identifier).stdout,
                         f"{identifier} 0\n".encode())
        self.assertNotIn(identifier, [line.split()[0]
                                      for line in lines_of(winebed.run_program("listUSBPorts"))])
        self.device.plug(number=first + 1)
        self.assert_present_at(first + 1)
        # And the port works: bytes pass through it.
        bridge = self.bridge()
        self.device.write(b"back again\n")
        bridge.stdout.wait_for(11)
        self.assertEqual(bytes(bridge.stdout.data), b"back again\n")


class Bridged(PluggedDevice):
    product = "5741"

    def test_a_mebibyte_each_way_at_once(self):
        assert_both_ways_at_once(self, self.bridge(), self.device, 1 << 20, "over USB")

    def test_unplugged_while_the_device_streams(self):
        bridge = self.bridge()
        ended = []  # wall-clock times, as usbmon's
        threading.Thread(target=lambda: (bridge.process.wait(), ended.append(time.time())),
                         daemon=True).start()
        # What the host side's tty holds unread, sampled until the hangup
        # makes the query fail: Linux discards it then, before Wine can read it.
        queue = []
        hung_up = []
        watcher_fd = os.open(f"/dev/{self.device.tty}", os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)

        def watch_queue():
            while True:
                try:
                    unread = int.from_bytes(fcntl.ioctl(watcher_fd, termios.FIONREAD, b"\0" * 4),
                                            "little")
                except OSError:
                    hung_up.append(time.time())
                    return
                queue.append((time.time(), unread))
                time.sleep(0.0005)

        sent = bytearray()
        stop = threading.Event()

        def device_streams():
            # 900 bytes every 10 ms or so, as a device sending readings: what
            # the host side's tty may hold at the hang-up stays small beside
            # a fault that would lose a whole read of the bridge's.
            counter = 0
            while not stop.is_set():
                chunk = b"".join(b"%08d\n" % (counter + i) for i in range(100))
                try:
                    written = os.write(self.device.master, chunk)
                except BlockingIOError:
                    time.sleep(0.001)
                    continue
                except OSError:
                    return
                counter += 100
                sent.extend(chunk[:written])
                if written < len(chunk):
                    return  # a cut line would spoil the numbering; enough sent
                time.sleep(0.01)

        monitor = usbplug.UsbMonitor()
        watcher = threading.Thread(target=watch_queue, daemon=True)
        watcher.start()
        streamer = threading.Thread(target=device_streams, daemon=True)
        streamer.start()
        try:
            bridge.stdout.wait_for(64 << 10, timeout=60)
            self.device.pull()  # the stream still running
            pulled = time.time()
            stop.set()
            streamer.join(10)
            watcher.join(10)
            self.device.unplug()
            code = bridge.wait(timeout=10)
        finally:
            stop.set()
            os.close(watcher_fd)
        events = monitor.events()
        received = bytes(bridge.stdout.data)
        delivered = usbplug.bulk_in_bytes(events)
        last_sample, unread = queue[-1] if queue else (pulled, 0)
        arrived_after = usbplug.bulk_in_bytes(events, after=last_sample)
        # From the hangup, when Linux tells the port's users the device is
        # gone (seen here as the watcher's first failed look), to the exit.
        hangup = hung_up[0] if hung_up else pulled
        seconds = ended[0] - hangup if ended else float("inf")
        print(f"\n  exit code {code} {(ended[0] - pulled) * 1000 if ended else -1:.0f} ms after"
              f" the unplug, {seconds * 1000:.0f} ms after the hangup"
              f" ({(hangup - pulled) * 1000:.0f} ms after the unplug); gadget sent {len(sent)} bytes,"
              f" USB delivered {delivered} to cdc_acm, stdout {len(received)}; the tty held"
              f" {unread} unread at its last look, {(hangup - last_sample) * 1000:.1f} ms before the"
              f" hangup, {arrived_after} more arrived after that look")
        self.assertEqual(code, EXIT_PORT_LOST)
        # Under emulation Wine's process start and end take some five times
        # as long as on this machine, where the same end after a vanished
        # device stays well under a second (the bench's vanish part).
        self.assertLess(seconds, EMULATED_EXIT_LIMIT_S)
        self.assertEqual(bridge.stderr(), b"")
        self.assertGreaterEqual(len(received), 64 << 10)
        self.assertEqual(received, bytes(sent[:len(received)]), "stdout is not what was sent")
        self.assertLessEqual(len(received), delivered)
        # Linux discards what the tty holds unread when it hangs up: bytes in
        # its flip buffers (which the queue count above does not see) and in
        # the line discipline's queue. Those can only be bytes that came in
        # the last moments before the hangup, since the bridge reads the port
        # at least every 20 ms; older bytes were read and must be on stdout.
        recent = usbplug.bulk_in_bytes(events, after=hangup - RECENT_S)
        print(f"  {recent} bytes came in the last {RECENT_S * 1000:.0f} ms before the hangup")
        self.assertLessEqual(delivered - len(received), max(recent, unread + arrived_after),
                             "bytes delivered well before the hangup are missing from stdout")

    def test_device_stops_reading_for_two_seconds(self):
        # Writes to the port may take 100 ms, whatever their length.
        bridge = self.bridge(0, 10, 0, 100, 0)
        stop = threading.Event()
        sends = []  # (monotonic time a send returned, bytes so far)
        block = bytes(range(256)) * 16

        def host_writes():
            total = 0
            while not stop.is_set():
                try:
                    bridge.send(block)
                except (BrokenPipeError, OSError, ValueError):
                    return
                total += len(block)
                sends.append((time.monotonic(), total))

        writer = threading.Thread(target=host_writes, daemon=True)
        paused = time.monotonic()
        writer.start()
        time.sleep(2.0)  # the device reads nothing meanwhile
        self.assertIsNone(bridge.process.poll(), "the bridge ended while the device was busy")
        resumed = time.monotonic()
        received = bytearray()
        stop.set()
        while True:
            chunk = self.device.read_available(1.0)
            if not chunk and not writer.is_alive():
                break
            received += chunk
        writer.join(10)
        self.assertIsNone(bridge.process.poll(), "the bridge ended after the device was busy")
        sent = sends[-1][1] if sends else 0
        stalled = [later - earlier for (earlier, _), (later, _) in zip(sends, sends[1:])]
        longest = max(stalled, default=resumed - paused)
        print(f"\n  host wrote {sent} bytes, the device got {len(received)}"
              f" ({sent - len(received)} dropped by writes cut short); the host's longest wait"
              f" for its pipe {longest * 1000:.0f} ms")
        # What a write cut short drops is lost; nothing else may be. With no
        # write cut, the device has the host's stream whole and in order.
        self.assertLessEqual(len(received), sent)
        if len(received) == sent:
            self.assertEqual(bytes(received), block * (sent // len(block)))
        word = b"still bridging\n"
        bridge.send(word)
        self.assertEqual(self.device.read_exactly(len(word)), word)


class Wire(PluggedDevice):
    product = "5742"

    # Time-out arguments: the defaults, immediate reads, batching with a
    # short write time-out. None of them is a line setting.
    TIMEOUT_SETS = [(), (-1, 0, 0), (20, 200, 0, 100, 0)]

    def requests_of_a_bridge_start(self, timeouts):
        # cdc_acm sends SET_LINE_CODING only when the coding changes: another
        # coding first, so that the bridge's own request shows.
        os.system(f"stty -F /dev/{self.device.tty} 19200 cs7 parenb cstopb")
        monitor = usbplug.UsbMonitor()
        bridge = Bridge(self.host.name, self.device.number, *timeouts)
        try:
            settle(bridge, self.device)
        finally:
            events = monitor.events()
            bridge.close()
        return usbplug.control_requests(events)

    def test_line_settings_on_the_wire_whatever_the_time_outs(self):
        seen = {}
        for timeouts in self.TIMEOUT_SETS:
            requests = self.requests_of_a_bridge_start(timeouts)
            codings = [data for request, _, data in requests if request == SET_LINE_CODING]
            states = [value for request, value, _ in requests
                      if request == SET_CONTROL_LINE_STATE]
            print(f"\n  time-outs {timeouts or 'default'}: " + ", ".join(
                f"{'SET_LINE_CODING ' + data.hex(' ') if request == SET_LINE_CODING else ''}"
                f"{'SET_CONTROL_LINE_STATE %04x' % value if request == SET_CONTROL_LINE_STATE else ''}"
                for request, value, data in requests))
            with self.subTest(timeouts=timeouts):
                self.assertTrue(codings, "no SET_LINE_CODING after the bridge opened")
                self.assertEqual(codings[-1], CODING_9600_8N1)
                self.assertTrue(states, "no SET_CONTROL_LINE_STATE after the bridge opened")
                self.assertEqual(states[-1], DTR_ON_RTS_OFF)
            seen[timeouts] = requests
        self.assertEqual(len({tuple(requests) for requests in seen.values()}), 1,
                         "time-out arguments changed what reached the wire")


class Restarts(PluggedDevice):
    product = "5743"

    def test_ten_restarts_on_one_device(self):
        for round_number in range(10):
            bridge = Bridge(self.host.name, self.device.number)
            try:
                settle(bridge, self.device)
                word = b"round %d\n" % round_number
                bridge.send(word)
                self.assertEqual(self.device.read_exactly(len(word)), word, f"round {round_number}")
                self.device.write(word)
                bridge.stdout.wait_for(len(word))
                self.assertEqual(bytes(bridge.stdout.data), word, f"round {round_number}")
            finally:
                bridge.close()  # killed, as a host kills it


class Composite(PluggedDevice):
    product = "5744"
    # The ACM function after a one-interface function: its first interface is 1.
    functions = (GENERIC_SERIAL, ACM)

    def test_found_through_its_interface_key(self):
        identifier = self.device.identifier()
        self.assertEqual(self.device.keys,
                         [f"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_{VENDOR}&PID_5744&MI_01"])
        self.assertEqual(winebed.run_program("getUSBPort", identifier).stdout,
                         f"{identifier} {self.device.number}\n".encode())
        self.assertIn(f"{identifier} {self.device.number}",
                      lines_of(winebed.run_program("listUSBPorts")))
        bridge = self.bridge()
        self.device.write(b"composite\n")
        bridge.stdout.wait_for(10)
        self.assertEqual(bytes(bridge.stdout.data), b"composite\n")


if __name__ == "__main__":
    unittest.main()
