"""Running the bridge in tests: the program under "open" with its stdout read
on a thread, as a host reads it, and a settled serial line."""

import hashlib
import os
import pathlib
import random
import subprocess
import threading
import time

import winebed

class StdoutCollector:
    """Reads the program's stdout on a thread, as a host would. Keeps every
    byte, or for long streams only their count and running sha256."""

    def __init__(self, stream, keep=True):
        self.stream = stream
        self.keep = keep
        self.data = bytearray()
        self.count = 0
        self.digest = hashlib.sha256()
        self.changed = threading.Condition()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while True:
            chunk = os.read(self.stream.fileno(), 1 << 20)
            with self.changed:
                if not chunk:
                    self.changed.notify_all()
                    return
                if self.keep:
                    self.data += chunk
                self.count += len(chunk)
                self.digest.update(chunk)
                self.changed.notify_all()

    def wait_for(self, count, timeout=10.0):
        """Waits until `count` bytes have come; returns the time then."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while self.count < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                self.changed.wait(left)
            return time.monotonic()


class Bridge:
    """The program bridging `port` for `host`, with a collector on stdout."""

    def __init__(self, host_name, port_number, *timeouts, keep=True, exe=None):
        self.arguments = ("open", host_name, str(port_number), *map(str, timeouts))
        self.keep = keep
        self.exe = exe
        self.starts = 0
        self._start()

    def _start(self):
        self.starts += 1
        self.process = winebed.start_program(*self.arguments, exe=self.exe)
        self.stdout = StdoutCollector(self.process.stdout, self.keep)

    def restart_after_startup_failure(self):
        """Starts the bridge again when Wine ended it before it ran: exit
        code 1 with nothing written (see winebed). Returns whether it did."""
        if self.process.poll() != 1 or self.starts > winebed.STARTUP_RETRIES:
            return False
        self.stdout.thread.join(5)
        if self.stdout.count or self.process.stderr.read():
            return False
        winebed.note_retry("the bridge", self.starts)
        self.close()
        self._start()
        return True

    def send(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def wait(self, timeout=10.0):
        code = self.process.wait(timeout)
        self.stdout.thread.join(5)
        return code

    def stderr(self):
        return self.process.stderr.read()

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            try:
                stream.close()
            except OSError:
                pass



def assert_both_ways_at_once(test, bridge, device, size, label):
    """Sends `size` random bytes each way at once, the device reading and
    writing interleaved as a real one would, and asserts that each side got
    exactly the other's bytes (compared by sha256); prints the time taken."""
    upstream = random.Random(1).randbytes(size)
    downstream = random.Random(2).randbytes(size)
    received = bytearray()

    def device_side():
        sent = 0
        while sent < size or len(received) < size:
            if sent < size:
                device.write(downstream[sent:sent + 4000])
                sent += 4000
            received.extend(device.read_available(0.01))
        received.extend(device.read_exactly(size - len(received)))

    device_thread = threading.Thread(target=device_side)
    started = time.monotonic()
    device_thread.start()
    bridge.send(upstream)
    bridge.stdout.wait_for(size, timeout=120)
    device_thread.join(120)
    seconds = time.monotonic() - started
    up, down = hashlib.sha256(upstream).hexdigest(), hashlib.sha256(downstream).hexdigest()
    test.assertEqual(hashlib.sha256(bytes(received)).hexdigest(), up, "host to device")
    test.assertEqual(hashlib.sha256(bytes(bridge.stdout.data)).hexdigest(), down,
                     "device to host")
    print(f"\n  {label}: {size} bytes each way at once in {seconds:.2f} s, "
          f"sha256 up {up[:16]}, down {down[:16]}")

def settle(bridge, port):
    """Waits until the bridge has the port open: a probe byte must come
    through. Probes sent before the port opened arrive late; they are drained
    so that a test starts with a quiet line."""
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        if bridge.process.poll() is not None:
            if bridge.restart_after_startup_failure():
                continue
            raise AssertionError(f"the bridge ended with exit code {bridge.process.returncode}"
                                 " before its port opened")
        try:
            bridge.send(b"\x00")
        except BrokenPipeError:
            continue  # it ended just now; the check above says how
        if port.read_exactly(1, timeout=0.5) == b"\x00":
            while port.read_available(0.3):
                pass
            return
    raise AssertionError("the bridge never opened its port")


# --- corvel started by a Windows host ---------------------------------------
#
# tests/hosts/pipe_host.cpp starts a child the way Python's subprocess, .NET's
# Process and Java's ProcessBuilder do: CreateProcess with pipes, no job object.

def windows_path(path):
    """The path as Windows programs in the prefix see it (drive Z: is /)."""
    return "Z:" + str(path).replace("/", "\\")


def start_retrying(what, start, first_line):
    """Starts a Windows program whose first line says it runs; a silent
    exit code 1 before that line is Wine's start-up failure and is retried."""
    def once():
        process = start()
        line = first_line(process)
        return process, line

    def failed(result):
        process, line = result
        if line or process.wait() != 1:
            return False
        process.stdout.close()
        return True

    process, line = winebed.with_startup_retries(what, once, failed)
    return process, line


class PipeHost:
    """A running copy of pipe_host named `name` that has started corvel with
    pipes, directly or through "cmd.exe /c", and relays both ways."""

    def __init__(self, exe, corvel, arguments, via_cmd=False):
        def start():
            return subprocess.Popen(
                [winebed.loader(), exe, "start", *(["--cmd"] if via_cmd else []),
                 windows_path(corvel), *arguments],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                stderr=subprocess.PIPE, env=winebed.wine_env(winebed.prefix_path()))

        def first_line(process):
            line = b""
            while not line.endswith(b"\n"):
                byte = os.read(process.stdout.fileno(), 1)
                if not byte:
                    break
                line += byte
            return line

        self.process, line = start_retrying(os.path.basename(exe), start, first_line)
        if line != b"started\n":
            raise AssertionError(f"pipe_host did not start corvel: {line!r},"
                                 f" exit code {self.process.poll()}")
        self.stdout = StdoutCollector(self.process.stdout)

    # What bridgebed.settle needs of a bridge.
    def send(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def restart_after_startup_failure(self):
        return False

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()

    def close(self):
        self.kill()
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            try:
                stream.close()
            except OSError:
                pass


class Watcher:
    """Holds the one running process named `name` and reports how it ended."""

    def __init__(self, exe, name):
        def start():
            return subprocess.Popen(
                [winebed.loader(), exe, "watch", name], stdin=subprocess.DEVNULL,
                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                env=winebed.wine_env(winebed.prefix_path()))

        self.process, line = start_retrying("pipe_host watch", start,
                                            lambda process: process.stdout.readline())
        words = line.split()
        if len(words) != 2 or words[0] != b"watching":
            raise AssertionError(f"the watcher found no {name}: {line!r}")
        self.created = int(words[1])

    def ended(self, timeout):
        """(exit code, exit time) once the process has ended, or None when it
        still runs after `timeout` seconds."""
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None
        words = self.process.stdout.readline().split()
        if len(words) != 3 or words[0] != b"ended":
            raise AssertionError(f"the watcher said {words!r}")
        return int(words[1]), int(words[2])

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process.stdout.close()


def linux_pid(name):
    """The Linux process id of the running Windows program whose executable
    is named `name` (Wine shows the program's path as the command line), or
    None when there is none."""
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            command = (entry / "cmdline").read_bytes().split(b"\0")[0]
        except OSError:
            continue
        if command.replace(b"\\", b"/").endswith(b"/" + name.encode()):
            return int(entry.name)
    return None

