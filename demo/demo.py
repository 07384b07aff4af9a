"""The road a host application takes, shown end to end under Wine on a
simulated USB serial device: find the device's port, read the machine's
identification, open the bridge while a host process runs, talk to the device
through it, and see the bridge end by itself when the host ends.

Sets everything up in a throwaway Wine prefix and removes it afterwards."""

import datetime
import os
import pathlib
import re
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "wine"))
import winebed  # noqa: E402

IDENTIFIER = "0x57400483"  # product 5740, vendor 0483
VENDOR, PRODUCT, COM = "0483", "5740", 7
HOST_NAME = "demohost.exe"
# What the host sends, and the answer the device must give: these bytes, or
# for the time any that fit the pattern.
EXCHANGES = [
    (b"PING\n", b"PONG\n"),
    (b"TIME?\n", re.compile(rb"\d\d:\d\d:\d\d\n")),
    (b"hello, device\n", b"hello, device\n"),
    (bytes([0x00, 0x7F, 0xFF]) + b"\n", bytes([0x00, 0x7F, 0xFF]) + b"\n"),
]


def step(number, text):
    print(f"[{number}/6] {text}", flush=True)


def detail(text):
    print(f"      {text}", flush=True)


class DemoDevice(threading.Thread):
    """The device on the pty's far end: answers "PING" with "PONG", "TIME?"
    with the time, and echoes any other line."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port = port
        self.running = True

    def run(self):
        pending = b""
        while self.running:
            pending += self.port.read_available(0.05)
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                if line == b"PING":
                    answer = b"PONG\n"
                elif line == b"TIME?":
                    answer = datetime.datetime.now().strftime("%H:%M:%S\n").encode()
                else:
                    answer = line + b"\n"
                self.port.write(answer)


def main():
    exe = ROOT / "build" / "x64" / "corvel_x64.exe"
    host_exe = ROOT / "build" / "x64" / "tests" / "corvel_test_host.exe"
    for needed in (exe, host_exe):
        if not needed.exists():
            sys.exit(f"{needed} is missing: build first (scripts/build.sh)")
    os.environ["CORVEL_EXE"] = str(exe)
    os.environ["CORVEL_TEST_HOST"] = str(host_exe)
    prefix = pathlib.Path(tempfile.mkdtemp(prefix="corvel-demo-")) / "wine"
    os.environ["WINEPREFIX"] = str(prefix)

    started = time.monotonic()
    print(f"Setting up a throwaway Wine prefix in {prefix} ...", flush=True)
    winebed.create_prefix(prefix)
    try:
        return run_demo(started)
    finally:
        winebed.destroy_prefix(prefix)
        prefix.parent.rmdir()
        step(6, "Cleaned up: Wine prefix removed, pty closed, nothing left running.")


def run_demo(started):
    keys = winebed.usb_instance(VENDOR, PRODUCT, "DEMO0001", f"COM{COM}")
    with winebed.Registry(keys, {r"\Device\USBSER000": f"COM{COM}"}), \
            winebed.PtyPort(COM) as port:
        device = DemoDevice(port)
        device.start()
        step(1, f"Simulated USB CDC device {VENDOR}:{PRODUCT} registered as COM{COM} "
                f"(\\Device\\USBSER000), served by a pty ({os.ttyname(port.slave)}).")

        lookup = winebed.run_program("getUSBPort", IDENTIFIER, "0x00010002")
        step(2, f"corvel_x64.exe getUSBPort {IDENTIFIER} 0x00010002")
        detail(f"stdout {lookup.stdout!r}, exit code {lookup.returncode}")
        found = int(lookup.stdout.split(b"\n")[0].split(b" ")[1])

        ident = winebed.run_program("getPCIdentification")
        step(3, "corvel_x64.exe getPCIdentification")
        detail(f"stdout {ident.stdout!r}, exit code {ident.returncode}")

        with winebed.HostProcess(HOST_NAME) as host:
            bridge = winebed.start_program("open", HOST_NAME, str(found))
            step(4, f"Host {HOST_NAME} runs; corvel_x64.exe open {HOST_NAME} {found} "
                    "bridges stdin/stdout and the port.")
            os.set_blocking(bridge.stdout.fileno(), False)
            wrong = []
            for request, expected in EXCHANGES:
                sent = time.monotonic()
                bridge.stdin.write(request)
                bridge.stdin.flush()
                answer = read_line(bridge, 5.0)
                detail(f"host -> device {request!r:24} device -> host {answer!r:24} "
                       f"({(time.monotonic() - sent) * 1000:.0f} ms)")
                if not answers(expected, answer):
                    shown = expected.pattern if isinstance(expected, re.Pattern) else expected
                    detail(f"WRONG: the device's answer should have been {shown!r}")
                    wrong.append(request)
            died = host.kill()
            code = bridge.wait(10)
            step(5, f"Host ended; the bridge ended by itself {time.monotonic() - died:.2f} s "
                    f"later with exit code {code}.")
        device.running = False
        device.join()
    print(f"Done in {time.monotonic() - started:.1f} s.", flush=True)
    checks = {
        "getUSBPort's answer": (lookup.returncode, lookup.stdout)
        == (0, f"{IDENTIFIER} {COM}\n0x00010002 0\n".encode()),
        "getPCIdentification's answer": ident.returncode == 0 and ident.stdout != b"",
        "every device answer": not wrong,
        "the bridge's exit code": code == 0,
    }
    failed = [what for what, good in checks.items() if not good]
    if failed:
        print(f"FAILED: {', '.join(failed)}", flush=True)
    return 1 if failed else 0


def answers(expected, answer):
    if isinstance(expected, re.Pattern):
        return expected.fullmatch(answer) is not None
    return answer == expected


def read_line(process, timeout):
    data = b""
    deadline = time.monotonic() + timeout
    while not data.endswith(b"\n") and time.monotonic() < deadline:
        try:
            data += os.read(process.stdout.fileno(), 4096)
        except BlockingIOError:
            time.sleep(0.005)
    return data


if __name__ == "__main__":
    sys.exit(main())
