"""The bridge under long streams and rough ends: 256 MiB each way at once,
the device going away mid-stream, stdin ending, and the host dying
mid-transfer."""

import hashlib
import os
import random
import threading
import time
import unittest

import winebed
from bridgebed import Bridge, settle

CHUNK = 1 << 16


def stream_chunks(seed, total):
    """Reproducible pseudo-random data, chunk by chunk, without holding it all.
    Every chunk is drawn whole and the last one cut, so that a shorter stream
    is the start of a longer one: randbytes(n) is not the start of
    randbytes(CHUNK) unless n is a multiple of 4 (its last word gives its
    top bytes)."""
    generator = random.Random(seed)
    sent = 0
    while sent < total:
        chunk = generator.randbytes(CHUNK)[:total - sent]
        yield chunk
        sent += len(chunk)


def digest_of(seed, total):
    digest = hashlib.sha256()
    for chunk in stream_chunks(seed, total):
        digest.update(chunk)
    return digest.hexdigest()


class Device(threading.Thread):
    """The device end: sends `total` bytes of a seeded stream and reads what
    comes, hashing it, until told to stop."""

    def __init__(self, port, seed, total):
        super().__init__(daemon=True)
        self.port, self.seed, self.total = port, seed, total
        self.received = 0
        self.digest = hashlib.sha256()
        self.stop = threading.Event()

    def run(self):
        chunks = stream_chunks(self.seed, self.total)
        pending = next(chunks, b"")
        while not self.stop.is_set():
            if pending:
                try:
                    sent = os.write(self.port.master, pending)
                    pending = pending[sent:] or next(chunks, b"")
                except BlockingIOError:
                    pass
            data = self.port.read_available(0 if pending else 0.01)
            self.received += len(data)
            self.digest.update(data)


class Upstream(threading.Thread):
    """The host's writes into the bridge's stdin; can stop early and close it."""

    def __init__(self, bridge, seed, total, close_after=None):
        super().__init__(daemon=True)
        self.bridge, self.seed, self.total = bridge, seed, total
        self.close_after = close_after
        self.sent = 0
        self.digest = hashlib.sha256()

    def run(self):
        try:
            for chunk in stream_chunks(self.seed, self.total):
                if self.close_after is not None and self.sent >= self.close_after:
                    break
                self.bridge.process.stdin.write(chunk)
                self.sent += len(chunk)
                self.digest.update(chunk)
            if self.close_after is not None:
                self.bridge.process.stdin.close()
        except (BrokenPipeError, ValueError):
            pass  # the bridge ended under us: the host-death case


class SoakFixture(unittest.TestCase):
    def setUp(self):
        self.port = winebed.PtyPort().__enter__()
        self.addCleanup(self.port.__exit__, None, None, None)
        self.host = winebed.HostProcess().__enter__()
        self.addCleanup(self.host.__exit__, None, None, None)
        self.bridge = Bridge(self.host.name, self.port.number, keep=False)
        self.addCleanup(self.bridge.close)
        settle(self.bridge, self.port)


class LongStreams(SoakFixture):
    def test_256_mib_each_way_at_once_arrive_whole(self):
        total = 256 << 20
        device = Device(self.port, seed=11, total=total)
        upstream = Upstream(self.bridge, seed=12, total=total)
        started = time.monotonic()
        device.start()
        upstream.start()
        self.bridge.stdout.wait_for(total, timeout=600)
        upstream.join(600)
        deadline = time.monotonic() + 60
        while device.received < total and time.monotonic() < deadline:
            time.sleep(0.05)
        device.stop.set()
        device.join(10)
        seconds = time.monotonic() - started
        print(f"\n  {total >> 20} MiB each way in {seconds:.1f} s "
              f"({2 * total / seconds / 1e6:.1f} MB/s both directions together)")
        self.assertEqual((device.received, device.digest.hexdigest()),
                         (total, digest_of(12, total)), "host to device")
        self.assertEqual((self.bridge.stdout.count, self.bridge.stdout.digest.hexdigest()),
                         (total, digest_of(11, total)), "device to host")


class RoughEnds(SoakFixture):
    def test_stdin_ending_mid_stream_leaves_the_device_flowing(self):
        total = 16 << 20
        upstream = Upstream(self.bridge, seed=21, total=total, close_after=4 << 20)
        device = Device(self.port, seed=22, total=total)
        upstream.start()
        device.start()
        upstream.join(120)
        self.bridge.stdout.wait_for(total, timeout=120)
        deadline = time.monotonic() + 10
        while device.received < upstream.sent and time.monotonic() < deadline:
            time.sleep(0.05)
        device.stop.set()
        device.join(10)
        self.assertEqual((device.received, device.digest.hexdigest()),
                         (upstream.sent, upstream.digest.hexdigest()), "what stdin held")
        self.assertEqual(self.bridge.stdout.digest.hexdigest(), digest_of(22, total))
        self.assertIsNone(self.bridge.process.poll(), "the bridge ended with stdin")

    def test_device_going_away_mid_stream_ends_the_bridge_with_3(self):
        # An unplugged device does not come back under the same port: the
        # bridge ends, and the host learns why from the exit code.
        device = Device(self.port, seed=31, total=4 << 20)
        upstream = Upstream(self.bridge, seed=32, total=4 << 20)
        device.start()
        upstream.start()
        time.sleep(0.5)
        device.stop.set()
        device.join(10)
        vanished = self.port.vanish()
        self.assertEqual(self.bridge.wait(timeout=10), 3)
        print(f"\n  ended {(time.monotonic() - vanished) * 1000:.0f} ms after the device went away")
        self.assertEqual(self.bridge.stderr(), b"")
        # What reached stdout is the start of the device's stream, unchanged.
        received = self.bridge.stdout.count
        self.assertGreater(received, 0)
        self.assertEqual(self.bridge.stdout.digest.hexdigest(), digest_of(31, received))

    def test_host_dying_mid_transfer_ends_the_bridge_in_time(self):
        device = Device(self.port, seed=41, total=64 << 20)
        upstream = Upstream(self.bridge, seed=42, total=64 << 20)
        device.start()
        upstream.start()
        self.bridge.stdout.wait_for(1 << 20, timeout=60)
        died = self.host.kill()
        self.assertEqual(self.bridge.wait(timeout=10), 0)
        self.assertLess(time.monotonic() - died, 1.5)
        device.stop.set()
        device.join(10)
        # All the bridge wrote has been read: its stdout is at its end.
        self.bridge.stdout.thread.join(10)
        self.assertFalse(self.bridge.stdout.thread.is_alive(), "stdout still open")
        # What came before the end is the start of what was sent, unchanged.
        received = self.bridge.stdout.count
        self.assertGreaterEqual(received, 1 << 20)
        self.assertEqual(self.bridge.stdout.digest.hexdigest(), digest_of(41, received))


if __name__ == "__main__":
    unittest.main()
