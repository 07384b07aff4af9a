"""What every benchmark part shares: where the executables are, the Wine
session a run takes place in, the relays under measurement and the
statistics the figures are given in."""

import contextlib
import datetime
import os
import pathlib
import platform
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
BENCH = ROOT / "bench"
sys.path.insert(0, str(ROOT / "tests" / "wine"))
import winebed  # noqa: E402

EXE_X64 = ROOT / "build" / "x64" / "corvel_x64.exe"
EXE_X32 = ROOT / "build" / "x32" / "corvel_x32.exe"
TEST_HOST = ROOT / "build" / "x64" / "tests" / "corvel_test_host.exe"
EMPTY_EXE = ROOT / "build" / "bench" / "empty_x64.exe"
IDLE_FLOOR_EXE = ROOT / "build" / "bench" / "idle_floor_x64.exe"
PORT_MODEL = ROOT / "build" / "bench" / "port_model"

MIB = 1 << 20
# Wine's clocks advance in steps of about this much; a sleep or a time-out
# can end up to one step late.
WINE_CLOCK_STEP_MS = 16.0
PUMP_PAUSE_MS = 10.0
# COM numbers of the parts' own devices: far from those the tests use, and
# one per part so that parts never share a device.
PORTS = {"throughput": 231, "latency": 232, "idle": 233, "end": 234, "vanish": 235,
         "idle floor": 236}


def log(text):
    print(text, flush=True)


def percentile(values, fraction):
    """Nearest-rank percentile."""
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    rank = max(1, min(len(ordered), int(-(-fraction * len(ordered) // 1))))
    return ordered[rank - 1]


def summary_ms(delays):
    return {"p50": percentile(delays, 0.50), "p99": percentile(delays, 0.99),
            "max": max(delays) if delays else float("nan"),
            "mean": statistics.fmean(delays) if delays else float("nan"),
            "count": len(delays)}


def met(flag):
    return "met" if flag else "**not met**"


# --- The two relays: corvel under Wine and socat natively -------------------

class Relay:
    """A program that joins its stdin/stdout to the pty's slave, driven
    through raw file descriptors."""

    def __init__(self, process, name):
        self.process = process
        self.name = name
        self.stdin = process.stdin.fileno()
        self.stdout = process.stdout.fileno()

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            if stream is not None:
                try:
                    stream.close()
                except OSError:
                    pass


def start_corvel(host_name, port, *timeouts):
    return Relay(winebed.start_program("open", host_name, str(port.number), *timeouts),
                 "corvel")


def start_socat(port):
    process = subprocess.Popen(
        ["socat", "-b", "4096", "STDIO", f"{os.ttyname(port.slave)},raw,echo=0"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return Relay(process, "socat")


def read_master(port, wait):
    ready, _, _ = select.select([port.master], [], [], wait)
    if not ready:
        return b""
    try:
        return os.read(port.master, 1 << 20)
    except (BlockingIOError, OSError):
        return b""


def drain(port, wait):
    """Reads what the device still has coming until `wait` seconds pass
    without a byte, so that the next relay starts on a quiet line."""
    while read_master(port, wait):
        pass


def settle(relay, port):
    """Waits until the relay has the port open (a probe byte comes through),
    then lets late probes drain so that the line starts quiet."""
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        os.write(relay.stdin, b"\x00")
        got = b""
        until = time.monotonic() + 0.5
        while not got and time.monotonic() < until:
            got = read_master(port, 0.1)
        if got:
            drain(port, 0.3)
            return
    raise RuntimeError(f"{relay.name} never opened its port")


def exit_delay_ms(process, since, timeout=10.0):
    """Waits for `process` to end; returns the ms from `since` (a
    time.monotonic() value) to its end, or None when it is still running
    after `timeout` seconds."""
    # A pidfd turns readable the moment the process ends, with no polling
    # step added to the figure.
    pidfd = os.pidfd_open(process.pid)
    try:
        ready, _, _ = select.select([pidfd], [], [], timeout)
        ended = time.monotonic()
    finally:
        os.close(pidfd)
    return (ended - since) * 1000.0 if ready else None


# --- The Wine processes of this machine -------------------------------------

def wineserver_pid(prefix):
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if not (entry / "comm").read_text().startswith("wineserver"):
                continue
            environ = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if f"WINEPREFIX={prefix}".encode() in environ:
            return int(entry.name)
    return None


def other_wineservers(prefix):
    """Wine sessions of others running at the same time share the two cores."""
    ours = wineserver_pid(prefix)
    count = 0
    for entry in pathlib.Path("/proc").iterdir():
        if entry.name.isdigit() and int(entry.name) != ours:
            try:
                if (entry / "comm").read_text().startswith("wineserver"):
                    count += 1
            except OSError:
                pass
    return count


# --- A run: the machine, the commit, a throwaway prefix ---------------------

def commit():
    head = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"],
                          capture_output=True, text=True).stdout.strip()
    dirty = subprocess.run(["git", "-C", str(ROOT), "status", "--porcelain", "--", "src"],
                           capture_output=True, text=True).stdout.strip()
    return head + (" (src/ has uncommitted changes)" if dirty else "")


def machine():
    cpu = "unknown"
    with open("/proc/cpuinfo") as handle:
        for line in handle:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    wine = subprocess.run([winebed.WINE64, "--version"], capture_output=True, text=True).stdout.strip()
    socat = subprocess.run(["socat", "-V"], capture_output=True, text=True).stdout
    socat_version = next((line.split("version", 1)[1].strip().split()[0]
                          for line in socat.splitlines() if "socat version" in line), "?")
    return {"nproc": os.cpu_count(), "cpu": cpu, "kernel": platform.release(),
            "os": platform.freedesktop_os_release().get("PRETTY_NAME", "?"),
            "wine": wine, "socat": socat_version, "python": platform.python_version(),
            "commit": commit(), "loadavg_start": os.getloadavg()}


def check_built():
    for needed in (EXE_X64, EXE_X32, TEST_HOST, EMPTY_EXE, IDLE_FLOOR_EXE, PORT_MODEL):
        if not needed.exists():
            sys.exit(f"{needed} is missing: run scripts/bench.sh, which builds it")
    if shutil.which("socat") is None:
        sys.exit("socat is missing: run scripts/bench.sh, which installs it")


def check_plotting():
    """Before a run, not after it: the latency plot needs Debian's matplotlib,
    which another python3 on the PATH may not see."""
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        sys.exit("matplotlib is missing: run through scripts/bench.sh, or with /usr/bin/python3")


def utc_now():
    return datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")


@contextlib.contextmanager
def wine_session():
    """A throwaway prefix with its own wineserver, named in the environment
    the test bed reads; yields its path and removes it afterwards."""
    os.environ["CORVEL_EXE"] = str(EXE_X64)
    os.environ["CORVEL_TEST_HOST"] = str(TEST_HOST)
    folder = pathlib.Path(tempfile.mkdtemp(prefix="corvel-bench-"))
    prefix = folder / "wine"
    os.environ["WINEPREFIX"] = str(prefix)
    log(f"Setting up a throwaway Wine prefix in {prefix} ...")
    winebed.create_prefix(prefix)
    try:
        yield prefix
    finally:
        winebed.destroy_prefix(prefix)
        shutil.rmtree(folder, ignore_errors=True)
