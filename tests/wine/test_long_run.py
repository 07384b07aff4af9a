"""A bridge left running for ten minutes with occasional traffic holds no
more handles and no more private memory at the end than after its first
minute. CORVEL_LONG_RUN_SECONDS shortens the run by hand (default 600)."""

import os
import shutil
import tempfile
import time
import unittest

import winebed
from bridgebed import Bridge, settle

RUN_SECONDS = float(os.environ.get("CORVEL_LONG_RUN_SECONDS", "600"))
SETTLE_SECONDS = min(60.0, RUN_SECONDS / 2)
BURST_EVERY = 2.0
# The private figure is Wine's count of the process's resident private pages:
# a page touched late for the first time (a stack page, a code path taken
# once) shows up as growth without being a leak. A leak of even 64 bytes per
# burst would grow it by well over this in the run's hundreds of bursts.
PRIVATE_SLACK = 16 << 10


def probe(name):
    """(handles, private bytes) of the process named `name`."""
    run = winebed.run_program(name, exe=os.environ["CORVEL_PROCESS_PROBE"])
    if run.returncode != 0:
        raise AssertionError(f"process probe failed: {run!r}")
    handles, private = run.stdout.split()
    return int(handles), int(private)


class LongRun(unittest.TestCase):
    def test_handles_and_memory_stay_flat(self):
        # A name of its own, so that the probe finds this bridge and no other.
        folder = tempfile.mkdtemp(prefix="corvel-long-run-")
        self.addCleanup(shutil.rmtree, folder, True)
        name = "corvel-long-run.exe"
        shutil.copyfile(winebed.program(), os.path.join(folder, name))
        with winebed.PtyPort() as port, winebed.HostProcess() as host:
            bridge = Bridge(host.name, port.number, exe=os.path.join(folder, name))
            self.addCleanup(bridge.close)
            settle(bridge, port)

            started = time.monotonic()
            samples = []
            next_sample = started + SETTLE_SECONDS
            bursts = 0
            received = 0
            while time.monotonic() - started < RUN_SECONDS:
                word = b"burst %06d\n" % bursts
                bridge.send(word)
                self.assertEqual(port.read_exactly(len(word)), word)
                port.write(word * 20)
                received += len(word) * 20
                bridge.stdout.wait_for(received)
                bursts += 1
                if time.monotonic() >= next_sample:
                    samples.append((round(time.monotonic() - started), *probe(name)))
                    next_sample += 60
                time.sleep(BURST_EVERY)
            samples.append((round(time.monotonic() - started), *probe(name)))
            self.assertEqual(bridge.stdout.count, received)
            self.assertIsNone(bridge.process.poll(), "the bridge ended by itself")

        print(f"\n  {bursts} bursts; seconds, handles, private bytes: {samples}")
        first, last = samples[0], samples[-1]
        self.assertEqual(last[1], first[1], "handle count after the first minute and at the end")
        self.assertLessEqual(last[2] - first[2], PRIVATE_SLACK,
                             "private memory after the first minute and at the end")


if __name__ == "__main__":
    unittest.main()
