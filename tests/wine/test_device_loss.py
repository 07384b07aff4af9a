"""A device that goes away while "open" bridges it: the bridge ends with exit
code 3 once every byte the device sent has reached stdout; and the host's
pattern of ending a bridge and opening the same port again at once."""

import contextlib
import hashlib
import os
import pathlib
import threading
import time
import unittest

import winebed
from bridgebed import Bridge, settle

EXIT_PORT_LOST = 3


class DeviceLoss(unittest.TestCase):
    def setUp(self):
        self.port = winebed.PtyPort().__enter__()
        self.addCleanup(self.port.__exit__, None, None, None)
        self.host = winebed.HostProcess().__enter__()
        self.addCleanup(self.host.__exit__, None, None, None)
        self.bridge = Bridge(self.host.name, self.port.number)
        self.addCleanup(self.bridge.close)
        settle(self.bridge, self.port)

    def assert_ends_lost(self, vanished, what):
        code = self.bridge.wait(timeout=10)
        print(f"\n  {what}: exit code {code} {(time.monotonic() - vanished) * 1000:.0f} ms"
              " after the device vanished")
        self.assertEqual(code, EXIT_PORT_LOST)
        self.assertEqual(self.bridge.stderr(), b"")
        # The host sees its pipe close.
        self.assertFalse(self.bridge.stdout.thread.is_alive(), "stdout still open")

    def check_quiet_line(self, keep_slave):
        last_words = bytes(range(256)) + b"bye\r\n"
        self.port.write(last_words)
        self.bridge.stdout.wait_for(len(last_words))
        time.sleep(0.5)  # a quiet line: nothing moves when it goes
        vanished = self.port.vanish(keep_slave=keep_slave)
        self.assert_ends_lost(vanished, f"quiet line, pty slave kept open {keep_slave}")
        self.assertEqual(bytes(self.bridge.stdout.data), last_words)

    def test_quiet_line_with_the_pty_held_elsewhere(self):
        self.check_quiet_line(keep_slave=True)

    def test_quiet_line_with_nothing_else_holding_the_pty(self):
        self.check_quiet_line(keep_slave=False)

    def test_while_the_host_writes(self):
        stop = threading.Event()

        def host_writes():
            try:
                while not stop.is_set():
                    self.bridge.send(b"host talking\n" * 50)
                    time.sleep(0.005)
            except (BrokenPipeError, OSError, ValueError):
                pass  # the bridge ended

        writer = threading.Thread(target=host_writes, daemon=True)
        writer.start()
        time.sleep(0.5)
        vanished = self.port.vanish()
        try:
            self.assert_ends_lost(vanished, "host writing")
        finally:
            stop.set()
            writer.join(10)
        self.assertEqual(bytes(self.bridge.stdout.data), b"")

    def test_while_the_device_streams(self):
        # The device sends a numbered stream until it vanishes mid-write. What
        # the bridge had read by then must all reach stdout, unchanged.
        sent = bytearray()
        stop = threading.Event()

        def device_streams():
            counter = 0
            while not stop.is_set():
                chunk = b"".join(b"%08d\n" % (counter + i) for i in range(100))
                counter += 100
                try:
                    written = os.write(self.port.master, chunk)
                except BlockingIOError:
                    time.sleep(0.001)
                    continue
                except OSError:
                    return
                sent.extend(chunk[:written])

        device = threading.Thread(target=device_streams, daemon=True)
        device.start()
        self.bridge.stdout.wait_for(64 << 10, timeout=30)
        stop.set()
        device.join(10)
        vanished = self.port.vanish()
        self.assert_ends_lost(vanished, "device streaming")
        received = bytes(self.bridge.stdout.data)
        self.assertGreaterEqual(len(received), 64 << 10)
        # The pty may drop what was still in its buffer when its end closed,
        # but what came out is the start of what was sent, and nothing else.
        self.assertEqual(hashlib.sha256(received).hexdigest(),
                         hashlib.sha256(bytes(sent[:len(received)])).hexdigest())


def holders(path):
    """Process ids, other than this one, with `path` open."""
    found = set()
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit() or int(entry.name) == os.getpid():
            continue
        with contextlib.suppress(OSError):  # gone, or not ours to look at
            for fd in (entry / "fd").iterdir():
                with contextlib.suppress(OSError):
                    if os.readlink(fd) == path:
                        found.add(int(entry.name))
                        break
    return found


class OpenAgainAtOnce(unittest.TestCase):
    """A host that ends its bridge and opens the same port again right away
    (to change time-outs, say, or after its own restart) must get the port.

    Windows refuses a second open of a port that is still open; Wine grants
    it, so a new bridge passing bytes proves nothing on its own here. Each
    round therefore first shows that the bridge it ended no longer holds the
    port: no process but this test has the pty open (Wine's server keeps the
    port's file open for as long as a handle to it is)."""

    def test_fifty_restarts_each_open_and_passing_bytes(self):
        with winebed.PtyPort() as port, winebed.HostProcess() as host:
            line = os.ttyname(port.slave)
            released = []
            for round_number in range(50):
                self.assertEqual(holders(line), set(), f"port held before round {round_number}")
                bridge = Bridge(host.name, port.number)
                try:
                    settle(bridge, port)  # fails if the bridge ended, with its exit code
                    self.assertNotEqual(holders(line), set(), "the bridge's hold is not seen")
                    word = b"round %d\n" % round_number
                    bridge.send(word)
                    self.assertEqual(port.read_exactly(len(word)), word, f"round {round_number}")
                    port.write(word)
                    bridge.stdout.wait_for(len(word))
                    self.assertEqual(bytes(bridge.stdout.data), word, f"round {round_number}")
                finally:
                    bridge.close()  # killed, as a host kills it
                released.append(wait_released(line))
            print(f"\n  port released {max(released) * 1000:.0f} ms at most after the bridge"
                  " was killed")


def wait_released(line, timeout=5.0):
    """Seconds until no other process holds `line`, or timeout."""
    started = time.monotonic()
    while holders(line) and time.monotonic() - started < timeout:
        time.sleep(0.005)
    return time.monotonic() - started


if __name__ == "__main__":
    unittest.main()
