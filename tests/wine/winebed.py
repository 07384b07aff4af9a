"""The Wine test bed: a throwaway prefix, the program under test, registry
fixtures, pty-backed COM ports and host processes.

Every black-box test runs the real executable under Wine: corvel_x64.exe
through the 64-bit loader here, and in the emulated guest of
scripts/test-x32.sh corvel_x32.exe through the 32-bit one as well. The ctest
run creates one prefix (creating one costs seconds) and keeps its wineserver up
for the whole run; each test builds its own registry keys, ports and hosts and
removes them afterwards.

Environment (set by ctest or the guest): WINEPREFIX, CORVEL_EXE, for the bridge
tests CORVEL_TEST_HOST (a Windows program that stays up until it is killed),
and CORVEL_WINE_LOADER, the Wine loader that runs them (default: the 64-bit
one).
"""

import contextlib
import os
import pathlib
import re
import select
import shutil
import subprocess
import sys
import tempfile
import termios
import time
import tty
import uuid

WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver"


def loader():
    """The loader for the program, its hosts and Wine's tools. The tools go
    through the program's own loader so that they see the registry as it does:
    a 32-bit program's HKLM\\SOFTWARE is the 32-bit view (Wow6432Node)."""
    return os.environ.get("CORVEL_WINE_LOADER", WINE64)


def wine_env(prefix=None):
    env = dict(os.environ)
    if prefix is not None:
        env["WINEPREFIX"] = str(prefix)
    env["WINEDEBUG"] = "-all"
    # Arguments reach the Windows side through the locale's encoding.
    env["LC_ALL"] = "C.UTF-8"
    # No Mono or Gecko: nothing here needs them, and their set-up is slow.
    env["WINEDLLOVERRIDES"] = "mscoree=;mshtml="
    env.pop("DISPLAY", None)
    return env


def prefix_path():
    return pathlib.Path(os.environ["WINEPREFIX"])


def program():
    return os.environ["CORVEL_EXE"]


# --- The prefix -------------------------------------------------------------

def create_prefix(prefix, timeout=300):
    """A new prefix with a persistent wineserver (so the volatile hardware
    keys, the serial-port map among them, live through the whole run).
    timeout: seconds Wine's set-up may take."""
    prefix = pathlib.Path(prefix)
    destroy_prefix(prefix)
    prefix.mkdir(parents=True)
    env = wine_env(prefix)
    # The server outlives this call: it must hold none of the caller's pipes,
    # or whoever reads them (ctest) waits for it to end.
    subprocess.run([WINESERVER, "-p"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINE64, "wineboot", "-i"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
    # A new prefix has no USB enumeration tree; the lookups need its root.
    run_wine(["reg", "add", r"HKLM\SYSTEM\CurrentControlSet\Enum\USB", "/f"], prefix)


def destroy_prefix(prefix):
    prefix = pathlib.Path(prefix)
    if prefix.exists():
        subprocess.run([WINESERVER, "-k"], env=wine_env(prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(prefix, ignore_errors=True)


# --- Wine's own start-up failures -------------------------------------------
#
# Now and then (a few times in ten thousand starts, more under load) Wine ends
# a new process with exit code 1 within some 50 ms, before the program's own
# code runs, and prints nothing: its process set-up has failure paths that end
# with exit(1) and report only through the ERR channel, which WINEDEBUG=-all
# silences. Wine's own regedit fails the same way. corvel itself ends with 1
# only when it has no argument, so a run with arguments that ends with 1 and
# says nothing is such a start-up failure: it is run again, at most twice, and
# said on standard error. A program fault that gives 1 every time still fails.

STARTUP_RETRIES = 2


def startup_failed(returncode, stdout, stderr):
    return returncode == 1 and not stdout and not stderr


def note_retry(what, attempt):
    print(f"winebed: Wine ended {what} with exit code 1 before it ran, silently;"
          f" starting it again ({attempt}/{STARTUP_RETRIES})", file=sys.stderr, flush=True)


def with_startup_retries(what, start, failed):
    """Calls start() until failed(result) says no, at most 1 + STARTUP_RETRIES
    times; returns the last result."""
    for attempt in range(1, STARTUP_RETRIES + 2):
        result = start()
        if attempt > STARTUP_RETRIES or not failed(result):
            return result
        note_retry(what, attempt)


def run_wine(args, prefix=None, **kwargs):
    """Runs one of Wine's own programs (reg, regedit, ...), which must succeed.
    A silent exit code 1 is retried: for these tools it is either such a
    start-up failure or a real one, which the last try still reports."""
    kwargs.setdefault("stdin", subprocess.DEVNULL)
    kwargs.setdefault("stdout", subprocess.DEVNULL)
    kwargs.setdefault("stderr", subprocess.DEVNULL)
    kwargs.setdefault("timeout", 60)
    done = with_startup_retries(
        args[0],
        lambda: subprocess.run([loader(), *args], env=wine_env(prefix or prefix_path()), **kwargs),
        lambda done: done.returncode == 1)
    done.check_returncode()
    return done


# --- Running the program ----------------------------------------------------

class Run:
    def __init__(self, returncode, stdout, stderr, seconds):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.seconds = seconds

    def __repr__(self):
        return (f"Run(rc={self.returncode}, stdout={self.stdout[:200]!r}, "
                f"stderr={self.stderr[:200]!r}, {self.seconds:.2f}s)")


def run_program(*args, stdin=b"", timeout=60, exe=None, wine=None):
    """Runs the program (or `exe` through the loader `wine`) with piped
    stdin/stdout/stderr; returns a Run. With arguments, a silent exit code 1
    is Wine's start-up failure (see above) and the run is made again."""
    def once():
        started = time.monotonic()
        done = subprocess.run([wine or loader(), exe or program(), *args], input=stdin,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=wine_env(prefix_path()), timeout=timeout)
        return Run(done.returncode, done.stdout, done.stderr, time.monotonic() - started)

    return with_startup_retries(
        os.path.basename(exe or program()), once,
        lambda run: bool(args) and startup_failed(run.returncode, run.stdout, run.stderr))


def start_program(*args, exe=None):
    """Starts the program with pipes on all three streams; returns the Popen."""
    return subprocess.Popen([loader(), exe or program(), *args], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=wine_env(prefix_path()))


# --- Registry fixtures ------------------------------------------------------

def _reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def _reg_value(data):
    """A .reg value: str for REG_SZ, ("hex", type, bytes) for raw data."""
    if isinstance(data, str):
        return _reg_string(data)
    _, value_type, raw = data
    return f"hex({value_type:x}):" + ",".join(f"{b:02x}" for b in raw)


def raw_value(raw, value_type=1):
    """Registry data stored byte for byte, e.g. a string without terminator."""
    return ("hex", value_type, bytes(raw))


def import_reg(lines):
    """Imports .reg lines with Wine's own regedit (UTF-16 file, so any
    character survives)."""
    text = "Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n"
    with tempfile.NamedTemporaryFile("wb", suffix=".reg", delete=False) as handle:
        handle.write(b"\xff\xfe" + text.encode("utf-16-le"))
        path = handle.name
    try:
        run_wine(["regedit", "/S", path])
    finally:
        os.unlink(path)


SERIAL_MAP = r"HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM"
USB_TREE = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB"


class Registry:
    """Keys and serial-map values added by one test, removed again on exit.

    keys: {path below HKLM: {value name: data}}; serial: {device name: port}.
    The serial-port map is volatile and Wine's tools cannot create keys below
    HKLM\\HARDWARE, so the map gets values added to its existing key.
    """

    def __init__(self, keys=None, serial=None):
        self.keys = keys or {}
        self.serial = serial or {}

    def __enter__(self):
        lines = []
        for path, values in self.keys.items():
            lines.append(f"[HKEY_LOCAL_MACHINE\\{path}]")
            lines.extend(f"{_reg_string(name)}={_reg_value(data)}"
                         for name, data in values.items())
            lines.append("")
        if self.serial:
            lines.append(f"[{SERIAL_MAP}]")
            lines.extend(f"{_reg_string(name)}={_reg_string(port)}"
                         for name, port in self.serial.items())
        import_reg(lines)
        return self

    def __exit__(self, *exc):
        lines = [f"[-HKEY_LOCAL_MACHINE\\{path}]" for path in self.keys]
        if self.serial:
            lines.append(f"[{SERIAL_MAP}]")
            lines.extend(f"{_reg_string(name)}=-" for name in self.serial)
        import_reg(lines)
        return False


def exported_value(path, name):
    """The .reg line of the value `name` of the key HKLM\\path as Wine's
    regedit exports it (data of any type, byte for byte), or None when the
    key has no such value. Importing the line puts the value back."""
    with tempfile.TemporaryDirectory() as folder:
        export = os.path.join(folder, "export.reg")
        run_wine(["regedit", "/E", export, f"HKEY_LOCAL_MACHINE\\{path}"])
        text = pathlib.Path(export).read_bytes().decode("utf-16")
    # Long data is wrapped onto indented continuation lines.
    lines = re.sub(r"\\\r?\n\s+", "", text).splitlines()
    header = f"[HKEY_LOCAL_MACHINE\\{path}]".lower()
    wanted = (_reg_string(name) + "=").lower()   # names ignore case in the registry
    inside = False
    for line in lines:
        if line.startswith("["):
            inside = line.lower() == header
        elif inside and line.lower().startswith(wanted):
            return line
    return None


class ValuesChanged:
    """Values of an existing key below HKLM changed by one test, put back as
    they were on exit. values: {name: data (as for Registry), or None to
    delete the value}."""

    def __init__(self, path, values):
        self.path = path
        self.values = values

    def __enter__(self):
        self.saved = {name: exported_value(self.path, name) for name in self.values}
        lines = [f"[HKEY_LOCAL_MACHINE\\{self.path}]"]
        lines.extend(f"{_reg_string(name)}=" + ("-" if data is None else _reg_value(data))
                     for name, data in self.values.items())
        import_reg(lines)
        return self

    def __exit__(self, *exc):
        lines = [f"[HKEY_LOCAL_MACHINE\\{self.path}]"]
        lines.extend(line if line is not None else f"{_reg_string(name)}=-"
                     for name, line in self.saved.items())
        import_reg(lines)
        return False


def usb_instance(vendor, product, instance, port_name):
    """The keys Windows keeps for one instance of a USB CDC device; with
    port_name None, of a device or function without a port (HID, storage)."""
    key = f"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_{vendor}&PID_{product}\\{instance}"
    if port_name is None:
        return {key: {"DeviceDesc": "USB Input Device"},
                key + "\\Device Parameters": {"SelectiveSuspendEnabled": "1"}}
    return {key: {"DeviceDesc": "USB Serial Device"},
            key + "\\Device Parameters": {"PortName": port_name}}


def usb_device(vendor, product, instances):
    """A device with {instance: port name}, as Windows records a USB CDC
    device. The device key itself is listed first, so that a Registry fixture
    removes it whole on exit and no empty device key is left behind."""
    keys = {f"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_{vendor}&PID_{product}": {}}
    for instance, port_name in instances.items():
        keys.update(usb_instance(vendor, product, instance, port_name))
    return keys


def usb_composite(vendor, product, functions, instance="5&1C2D3E4F&0&1"):
    """A composite device as Windows records it: its own key, whose instance
    the composite driver serves (no port), and beside it one key per function,
    VID_vvvv&PID_pppp&MI_xx. functions: {"xx": {instance: port name or None}}."""
    keys = usb_device(vendor, product, {})
    keys[f"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_{vendor}&PID_{product}\\{instance}"] = {
        "DeviceDesc": "USB Composite Device", "Service": "usbccgp"}
    for interface, instances in functions.items():
        keys.update(usb_device(vendor, f"{product}&MI_{interface}", instances))
    return keys


# --- Serial devices ---------------------------------------------------------

def link_com(target, number=None):
    """Makes COM<number> of the prefix the Linux device `target`, as Wine's
    dosdevices link; returns (number, link). number None: the first COM number
    from 60 up that no one has taken, so that suites running side by side in
    one prefix never share a port."""
    devices = prefix_path() / "dosdevices"
    if number is not None:
        link = devices / f"com{number}"
        if link.is_symlink() or link.exists():
            link.unlink()
        link.symlink_to(target)
        return number, link
    for number in range(60, 256):
        try:
            os.symlink(target, devices / f"com{number}")  # fails if taken
        except FileExistsError:
            continue
        return number, devices / f"com{number}"
    raise RuntimeError("no free COM number")


class DeviceEnd:
    """The device's end of a serial line, a non-blocking file descriptor
    `master`: what the device sends to the program and reads from it."""

    def write(self, data):
        """Sends bytes to the program, all of them."""
        view = memoryview(data)
        while view:
            select.select([], [self.master], [], 5)
            try:
                sent = os.write(self.master, view)
            except BlockingIOError:
                continue
            view = view[sent:]

    def read_available(self, wait=0.0):
        """Bytes the program has sent, waiting at most `wait` seconds for some."""
        ready, _, _ = select.select([self.master], [], [], wait)
        if not ready:
            return b""
        try:
            return os.read(self.master, 65536)
        except (BlockingIOError, OSError):
            return b""

    def read_exactly(self, count, timeout=10.0):
        data = bytearray()
        deadline = time.monotonic() + timeout
        while len(data) < count and time.monotonic() < deadline:
            data += self.read_available(min(0.1, max(0.0, deadline - time.monotonic())))
        return bytes(data)


class PtyPort(DeviceEnd):
    """A COM port of the prefix backed by a Linux pty: the program opens the
    slave as COM<number>, the test is the device on the master end.

    The slave stays open here as well: with no slave open the master reads
    fail, and with the master closed Wine's port reads spin."""

    def __init__(self, number=None):
        """number None: the first free COM number (see link_com)."""
        self.number = number

    def __enter__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        attrs = termios.tcgetattr(self.slave)
        attrs[3] &= ~termios.ECHO
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        os.set_blocking(self.master, False)
        self.number, self.link = link_com(os.ttyname(self.slave), self.number)
        return self

    def __exit__(self, *exc):
        self._unlink()
        os.close(self.master)
        os.close(self.slave)
        return False

    def vanish(self, keep_slave=True):
        """The device goes away, as an unplugged USB device does: its end of
        the line closes and its COM name disappears. keep_slave: the pty's
        other end stays open here, as it does when anything else holds it."""
        os.close(self.master)
        self.master = os.open("/dev/null", os.O_RDONLY)  # for __exit__'s close
        if not keep_slave:
            os.close(self.slave)
            self.slave = os.open("/dev/null", os.O_RDONLY)
        self._unlink()
        return time.monotonic()

    def _unlink(self):
        # Once only: after its link is gone the COM number is free, and a
        # suite running beside this one may have linked it to its own pty.
        if self.link is not None:
            with contextlib.suppress(FileNotFoundError):
                self.link.unlink()
            self.link = None


# --- Host processes ---------------------------------------------------------

class HostProcess:
    """A real Windows process, named `name`, that stays up until killed."""

    def __init__(self, name=None):
        self.name = name or f"host{uuid.uuid4().hex[:10]}.exe"

    def __enter__(self):
        self.folder = tempfile.mkdtemp(prefix="corvel-host-")
        path = os.path.join(self.folder, self.name)
        shutil.copyfile(os.environ["CORVEL_TEST_HOST"], path)

        def once():
            self.process = subprocess.Popen([loader(), path], stdout=subprocess.PIPE,
                                            stderr=subprocess.DEVNULL,
                                            env=wine_env(prefix_path()))
            # The host says so once it runs, hence is in the process list.
            line = self.process.stdout.readline()
            if line.strip() != b"ready":
                self.kill()
                self.process.stdout.close()
            return line

        line = with_startup_retries(self.name, once,
                                    lambda line: not line and self.process.returncode == 1)
        if line.strip() == b"ready":
            return self
        shutil.rmtree(self.folder, ignore_errors=True)
        raise RuntimeError(f"test host did not start: {line!r}, exit code {self.process.returncode}")

    def kill(self):
        """Kills the host; returns the monotonic time of its death."""
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        return time.monotonic()

    def __exit__(self, *exc):
        self.kill()
        self.process.stdout.close()
        shutil.rmtree(self.folder, ignore_errors=True)
        return False


if __name__ == "__main__":
    # prefix set-up and removal for ctest's fixture: winebed.py setup|cleanup DIR
    action, where = sys.argv[1], sys.argv[2]
    if action == "setup":
        create_prefix(where)
    elif action == "cleanup":
        destroy_prefix(where)
    else:
        sys.exit(f"unknown action {action}")
