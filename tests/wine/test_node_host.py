"""Real Node.js for Windows as corvel's host, under Wine: the README's Node
example (examples/node/host.js), driven by tests/node/host_checks.js, against a
pty as the serial device.

The suite has a prefix of its own: Node refuses to start on the Windows 7 that
Wine reports by default, so this prefix reports Windows 10. Other node.exe
processes would not keep a bridge of these checks alive anyway: a bridge
started with the host's own name belongs to that process, corvel's nearest
ancestor of the name, and Node ends the children it spawns when it exits.

Node's stdin and stdout must not be Linux pipes here (Node fails on them with
EBADF at start-up): it gets /dev/null and files.

Environment (set by ctest): CORVEL_EXE, CORVEL_NODE_EXE (node.exe as npm
installed it), CORVEL_NODE_WINEPREFIX (the folder for the prefix).
"""

import hashlib
import json
import os
import pathlib
import random
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

os.environ["WINEPREFIX"] = os.environ["CORVEL_NODE_WINEPREFIX"]
import winebed  # noqa: E402  (reads WINEPREFIX when it is used)

ROOT = pathlib.Path(__file__).resolve().parents[2]
CHECKS = ROOT / "tests" / "node" / "host_checks.js"
IDENTIFIER = "0x57400483"
ABSENT = "0x12345678"
# The second Node process in hostEnd, under its own name. It runs beside
# corvel, not above it, so that check ends the bridge by the name rule.
HOST_NAME = "corvelnodehost.exe"
EVERY_VALUE = bytes(range(256))
LAST_WORDS = bytes(range(256)) + b"bye\r\n"
TAIL = [b"still here %d\n" % n for n in range(5)]
SIZE = 1 << 20


def windows_path(path):
    """The path as Windows programs in the prefix see it (drive Z: is /)."""
    return "Z:" + str(path).replace("/", "\\")


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def setUpModule():
    prefix = winebed.prefix_path()
    winebed.create_prefix(prefix)
    winebed.run_wine(["winecfg", "-v", "win10"])
    # The same node.exe under another name, linked rather than copied (80 MB).
    host = prefix / "node-host" / HOST_NAME
    host.parent.mkdir()
    try:
        os.link(os.environ["CORVEL_NODE_EXE"], host)
    except OSError:
        shutil.copyfile(os.environ["CORVEL_NODE_EXE"], host)


def tearDownModule():
    winebed.destroy_prefix(winebed.prefix_path())


# --- The device's side of each check ----------------------------------------

def handshake(port, stop):
    """Waits for the host's "S" and answers it; False when the host run ended
    first (stop set)."""
    while not stop.is_set():
        first = port.read_available(0.1)
        if first:
            if first != b"S":
                raise AssertionError(f"handshake began with {first!r}")
            port.write(b"S")
            return True
    return False


def answer_every_value(port, stop):
    if handshake(port, stop):
        received = port.read_exactly(256, timeout=20)
        port.write(EVERY_VALUE[::-1])
        return {"received": received}


def stream_a_mebibyte(port, stop):
    if not handshake(port, stop):
        return None
    downstream = random.Random(2).randbytes(SIZE)
    received = bytearray()
    sent = 0
    while sent < SIZE:  # writes and reads interleaved, as a device does
        port.write(downstream[sent:sent + 4000])
        sent += 4000
        received += port.read_available(0.01)
    received += port.read_exactly(SIZE - len(received), timeout=120)
    return {"sent": sha256(downstream), "received": sha256(bytes(received)), "count": len(received)}


def talk_on_later(port, stop):
    if handshake(port, stop):
        time.sleep(0.5)  # the host ends its stdin right after the handshake
        first = time.time()
        for line in TAIL:
            port.write(line)
            time.sleep(0.2)
        return {"first": first}


def say_bye_and_vanish(port, stop):
    if handshake(port, stop):
        port.write(LAST_WORDS)
        time.sleep(0.5)
        vanished = time.time()
        port.vanish()
        return {"vanished": vanished}


class Device(threading.Thread):
    def __init__(self, act, port):
        super().__init__(daemon=True)
        self.act, self.port = act, port
        self.stop = threading.Event()
        self.result, self.error = None, None
        self.start()

    def run(self):
        try:
            self.result = self.act(self.port, self.stop)
        except Exception as error:  # reported on the test's thread
            self.error = error


# --- The tests ----------------------------------------------------------------

class NodeHost(unittest.TestCase):
    """A device on COM<n>, registered as USB device 0483:5740, for each test."""

    def setUp(self):
        self.port = winebed.PtyPort().__enter__()
        self.addCleanup(self.port.__exit__, None, None, None)
        com = f"COM{self.port.number}"
        registry = winebed.Registry(
            keys=winebed.usb_device("0483", "5740", {"NODE0001": com}),
            serial={r"\Device\USBSER000": com}).__enter__()
        self.addCleanup(registry.__exit__, None, None, None)

    def run_check(self, check, act=None, *extra):
        """Runs one check of host_checks.js with `act` as the device; returns
        the check's result and the device's."""
        arguments = [winebed.WINE64, os.environ["CORVEL_NODE_EXE"], windows_path(CHECKS), check,
                     windows_path(os.environ["CORVEL_EXE"]), IDENTIFIER,
                     windows_path(winebed.prefix_path() / "node-host" / HOST_NAME), *extra]

        def once():
            device = Device(act or (lambda port, stop: None), self.port)
            with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                done = subprocess.run(arguments, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                      env=winebed.wine_env(), timeout=180)
                device.stop.set()
                device.join(150)
                out.seek(0)
                err.seek(0)
                return done.returncode, out.read(), err.read(), device

        code, out, err, device = winebed.with_startup_retries(
            "node.exe", once, lambda run: winebed.startup_failed(*run[:3]))
        if device.error:
            raise device.error
        lines = out.splitlines()
        self.assertTrue(lines, f"node.exe gave no result: exit code {code}, stderr {err[-2000:]!r}")
        result = json.loads(lines[-1])
        self.assertNotIn("error", result, result.get("error"))
        self.assertEqual(code, 0, err[-2000:])
        return result, device.result

    def test_lookup_parsed_as_the_example_parses_it(self):
        result, _ = self.run_check("lookup")
        self.assertEqual(result["raw"], f"{IDENTIFIER} {self.port.number}\n{ABSENT} 0\n")
        self.assertEqual((result["ports"], result["absent"]), ([self.port.number], []))

    def test_every_byte_value_both_ways(self):
        result, device = self.run_check("everyByte", answer_every_value)
        self.assertEqual(device["received"], EVERY_VALUE, "host to device")
        self.assertEqual(bytes.fromhex(result["received"]), EVERY_VALUE[::-1], "device to host")

    def test_a_mebibyte_each_way_at_once(self):
        result, device = self.run_check("mebibyte", stream_a_mebibyte)
        print(f"\n  {SIZE} bytes each way in {result['seconds']:.2f} s; host to device sha256"
              f" {device['received'][:16]}, device to host {result['received'][:16]}")
        self.assertEqual((device["count"], device["received"]), (SIZE, result["sent"]), "host to device")
        self.assertEqual((result["receivedCount"], result["received"]), (SIZE, device["sent"]),
                         "device to host")

    def test_device_bytes_keep_coming_after_stdin_end(self):
        expected = b"".join(TAIL)
        result, device = self.run_check("stdinEnd", talk_on_later, str(len(expected)))
        self.assertLess(result["endedAt"] / 1000, device["first"], "stdin ended after the device spoke")
        self.assertEqual(result["received"].encode("latin1"), expected)

    def test_the_host_ending_ends_the_bridge(self):
        result, _ = self.run_check("hostEnd", handshake)
        print(f"\n  host ended with {result['host']}; the bridge ended {result['ms']} ms later"
              f" with exit code {result['code']}")
        self.assertEqual((result["host"], result["code"]), (0, 0))
        # One look at the process list every 500 ms, then at most 50 ms; the
        # rest is slack for a busy machine.
        self.assertLess(result["ms"], 1500)

    def test_a_missing_port_gives_exit_code_2(self):
        # Not a busy one: Wine opens a serial device a second time whatever
        # the share mode, so under Wine no port is ever busy.
        result, _ = self.run_check("missingPort")
        print(f"\n  missing port: exit code {result['code']} after {result['ms']} ms")
        self.assertEqual((result["code"], result["bytes"]), (2, 0))

    def test_a_vanished_device_gives_exit_code_3_after_its_last_bytes(self):
        result, device = self.run_check("vanish", say_bye_and_vanish)
        print(f"\n  exit code {result['code']}"
              f" {result['at'] - device['vanished'] * 1000:.0f} ms after the device vanished")
        self.assertEqual(result["code"], 3)
        self.assertEqual(bytes.fromhex(result["received"]), LAST_WORDS)

    def test_the_example_as_shipped_finds_the_device_again_after_exit_code_3(self):
        # host.js as the README shows it, with corvel_x64.exe beside it and
        # node.exe as the host. The device answers PING, then comes back as
        # another port, as a reset device does; the example must look it up
        # and talk to it there.
        folder = pathlib.Path(tempfile.mkdtemp(prefix="corvel-node-example-"))
        self.addCleanup(shutil.rmtree, folder, True)
        shutil.copyfile(ROOT / "examples" / "node" / "host.js", folder / "host.js")
        shutil.copyfile(os.environ["CORVEL_EXE"], folder / "corvel_x64.exe")
        second = winebed.PtyPort().__enter__()
        self.addCleanup(second.__exit__, None, None, None)
        answer = b"device says <Buffer 50 4f 4e 47 0a>\n"  # how console.log shows b"PONG\n"
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            node = subprocess.Popen([winebed.WINE64, os.environ["CORVEL_NODE_EXE"],
                                     windows_path(folder / "host.js")], stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, env=winebed.wine_env())
            try:
                for port, moves in ((self.port, True), (second, False)):
                    self.assertEqual(port.read_exactly(5, timeout=30), b"PING\n", f"COM{port.number}")
                    port.write(b"PONG\n")
                    if moves:  # the registry shows the new port before the old one goes;
                        # setUp's fixture removes these same keys and values
                        com = f"COM{second.number}"
                        winebed.Registry(
                            keys=winebed.usb_device("0483", "5740", {"NODE0001": com}),
                            serial={r"\Device\USBSER000": com}).__enter__()
                        time.sleep(0.5)
                        port.vanish()
                deadline = time.monotonic() + 10
                while out.seek(0) == 0 and out.read().count(answer) < 2 and time.monotonic() < deadline:
                    time.sleep(0.1)
            finally:
                node.kill()
                node.wait()
            out.seek(0)
            err.seek(0)
            self.assertEqual((out.read(), err.read()), (answer * 2, b""))



if __name__ == "__main__":
    unittest.main()
