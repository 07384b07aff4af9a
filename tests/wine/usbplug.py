"""A real USB serial device for the test bed, in the guest of
scripts/test-x32.sh: a configfs gadget on the kernel's emulated USB device
controller (dummy_hcd), which the emulated host controller wired to it
enumerates like any device plugged into a port; the kernel's cdc_acm driver
makes a ttyACM port of its CDC ACM function. The test is the device, on the
gadget's ttyGS port.

plug() also does what Windows' Plug and Play and its usbser driver do when such
a device arrives: the instance key with its PortName, the \\Device\\USBSERnnn
value of the serial-port map and the COM name (Wine's dosdevices link).
unplug() unbinds the gadget, the device leaves the bus, and the map value and
the COM name go; the instance key stays, as Windows keeps it.

Needs root, configfs and the modules scripts/test-x32.sh puts in the guest
(run_guest.py loads them once the prefix is made). Only one gadget is plugged
at a time: the controller has one port.
"""

import contextlib
import fcntl
import os
import pathlib
import struct
import termios
import time
import tty
import zlib

import winebed

GADGETS = pathlib.Path("/sys/kernel/config/usb_gadget")
TTYS = pathlib.Path("/sys/class/tty")

# configfs function kinds: the CDC ACM function, which cdc_acm binds as
# ttyACM, and the generic serial function (one vendor-specific interface that
# no driver on the host side binds), the second function of a composite device.
ACM = "acm"
GENERIC_SERIAL = "gser"


def controller():
    return os.listdir("/sys/class/udc")[0]


def _write(path, text):
    pathlib.Path(path).write_text(text + "\n")


def wait_for(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = condition()
        if found:
            return found
        time.sleep(0.01)
    raise RuntimeError(f"usbplug: {what} within {timeout} s")


class Gadget:
    """The USB device: configfs gadget `name` with the functions in interface
    order, bound to the controller (plugged) or not."""

    def __init__(self, name, vendor, product, serial, functions=(ACM,)):
        self.root = GADGETS / name
        self.vendor, self.product, self.serial = vendor, product, serial
        self.functions = [f"{kind}.{name}{index}" for index, kind in enumerate(functions)]
        self.root.mkdir()
        _write(self.root / "idVendor", f"0x{vendor}")
        _write(self.root / "idProduct", f"0x{product}")
        if len(functions) > 1:
            # Miscellaneous device with interface associations: the class
            # triple of a composite device whose functions span interfaces.
            _write(self.root / "bDeviceClass", "0xef")
            _write(self.root / "bDeviceSubClass", "0x02")
            _write(self.root / "bDeviceProtocol", "0x01")
        strings = self.root / "strings" / "0x409"
        strings.mkdir()
        _write(strings / "serialnumber", serial)
        _write(strings / "manufacturer", "corvel test bed")
        _write(strings / "product", "emulated USB serial device")
        config = self.root / "configs" / "c.1"
        config.mkdir()
        (config / "strings" / "0x409").mkdir()
        _write(config / "strings" / "0x409" / "configuration", "serial")
        # Functions take their interface numbers in the order they are linked.
        for function in self.functions:
            (self.root / "functions" / function).mkdir()
            (config / function).symlink_to(self.root / "functions" / function)

    def gadget_tty(self):
        """The gadget's end of its ACM function: /dev/ttyGS<n>."""
        acm = next(f for f in self.functions if f.startswith(ACM + "."))
        number = (self.root / "functions" / acm / "port_num").read_text().strip()
        return f"/dev/ttyGS{number}"

    def bind(self):
        _write(self.root / "UDC", controller())

    def unbind(self):
        _write(self.root / "UDC", "")

    def host_port(self):
        """(ttyACM name, first interface number) of this device's ACM
        function on the host side, or None while it is not there."""
        for entry in TTYS.glob("ttyACM*"):
            with contextlib.suppress(OSError):
                interface = (entry / "device").resolve()
                device = interface.parent
                if ((device / "idVendor").read_text().strip() == self.vendor
                        and (device / "idProduct").read_text().strip() == self.product
                        and (device / "serial").read_text().strip() == self.serial
                        and os.path.exists(f"/dev/{entry.name}")):
                    return entry.name, int((interface / "bInterfaceNumber").read_text(), 16)
        return None

    def remove(self):
        with contextlib.suppress(OSError):
            self.unbind()
        config = self.root / "configs" / "c.1"
        for function in self.functions:
            with contextlib.suppress(FileNotFoundError):
                (config / function).unlink()
        for folder in [config / "strings" / "0x409", config,
                       *(self.root / "functions" / f for f in self.functions),
                       self.root / "strings" / "0x409", self.root]:
            with contextlib.suppress(FileNotFoundError):
                folder.rmdir()


class UsbSerialDevice(winebed.DeviceEnd):
    """A USB CDC serial device as the program meets it: plugged, it has an
    instance key, a COM port in the serial-port map and a COM name; the test
    reads and writes the device's end (`master`, the gadget's ttyGS port).

    vendor, product: four hex digits each; functions: the gadget's functions
    in interface order; with more than one, the device is composite and
    Windows keeps the ACM function's keys under VID_vvvv&PID_pppp&MI_xx, xx
    the function's first interface number.
    """

    _count = 0

    def __init__(self, vendor, product, serial, functions=(ACM,)):
        UsbSerialDevice._count += 1
        self.gadget = Gadget(f"corvel{os.getpid()}x{UsbSerialDevice._count}", vendor, product,
                             serial, functions)
        self.vendor, self.product, self.serial = vendor, product, serial
        self.composite = len(functions) > 1
        self.master = None
        self.number = None
        self.pulled = None
        self.keys = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        # One import for what unplug() and the test's own keys leave: each
        # of Wine's regedit runs costs seconds under emulation.
        lines = []
        if self.master is not None:
            lines = self.unplug(registry=False)
        self.gadget.remove()
        lines += [f"[-HKEY_LOCAL_MACHINE\\{key}]" for key in self.keys]
        if lines:
            winebed.import_reg(lines)
        return False

    def device_key(self, interface):
        key = f"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_{self.vendor}&PID_{self.product}"
        return f"{key}&MI_{interface:02X}" if self.composite else key

    def instance_name(self):
        # A composite function's instance is named by the parent driver, not
        # by the serial number: a made-up name of Windows' form.
        if self.composite:
            return f"7&{zlib.crc32(self.serial.encode()):08x}&0&0000"
        return self.serial

    def plug(self, number=None):
        """Plugs the device in; its COM port is COM<number> (None: the first
        free one from 60 up). Returns the monotonic time its ttyACM appeared."""
        started = time.monotonic()
        self.gadget.bind()
        self.tty, interface = wait_for(self.gadget.host_port, 10, "no ttyACM appeared")
        appeared = time.monotonic()
        self.plug_seconds = appeared - started
        self.open_gadget_end()
        self.number, self.link = winebed.link_com(f"/dev/{self.tty}", number)
        self.map_name = f"\\Device\\USBSER{int(self.tty.removeprefix('ttyACM')):03d}"
        key = self.device_key(interface)
        instance = f"{key}\\{self.instance_name()}"
        if key not in self.keys:
            self.keys.append(key)
        keys = {instance: {"DeviceDesc": "USB Serial Device"},
                f"{instance}\\Device Parameters": {"PortName": f"COM{self.number}"}}
        lines = []
        for path, values in keys.items():
            lines.append(f"[HKEY_LOCAL_MACHINE\\{path}]")
            lines.extend(f'"{name}"="{data}"' for name, data in values.items())
        lines.append(f"[{winebed.SERIAL_MAP}]")
        lines.append(winebed._reg_string(self.map_name) + f'="COM{self.number}"')
        winebed.import_reg(lines)
        return appeared

    def open_gadget_end(self):
        # Raw, with echo off: a tty's echo would send the host's bytes back.
        self.master = os.open(self.gadget.gadget_tty(), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.master)
        attrs = termios.tcgetattr(self.master)
        attrs[3] &= ~termios.ECHO
        termios.tcsetattr(self.master, termios.TCSANOW, attrs)

    def pull(self):
        """The device leaves the bus; returns the monotonic time of that.
        unplug() does the rest."""
        self.gadget.unbind()
        self.pulled = time.monotonic()
        return self.pulled

    def unplug(self, registry=True):
        """Pulls the device out (unless pull() has); returns the monotonic
        time it left the bus. The port and its COM name go; the instance key
        stays. registry False: the map value stays, and the .reg lines that
        remove it are returned instead."""
        pulled = self.pulled if self.pulled is not None else self.pull()
        self.pulled = None
        wait_for(lambda: not os.path.exists(f"/dev/{self.tty}"), 10, f"{self.tty} stayed")
        os.close(self.master)
        self.master = None
        with contextlib.suppress(FileNotFoundError):
            self.link.unlink()
        lines = [f"[{winebed.SERIAL_MAP}]", winebed._reg_string(self.map_name) + "=-"]
        if not registry:
            return lines
        winebed.import_reg(lines)
        return pulled

    def identifier(self):
        """The identifier the program takes for this device: 0x<PID><VID>."""
        return f"0x{self.product}{self.vendor}"


class UsbMonitor:
    """usbmon's binary log of every bus (/dev/usbmon0), from the moment it
    is made until events() reads it out. The kernel keeps the events in a
    ring big enough for the tests' traffic, so nothing needs reading while
    bytes flow (a reader that lags under emulation loses events); stats()
    says whether the ring dropped any."""

    RING_BYTES = 1200 * 1024          # the most the kernel allows
    SET_RING_SIZE = 0x9204            # MON_IOCT_RING_SIZE
    GET_STATS = 0x80089203            # MON_IOCG_STATS: queued, dropped
    # struct usbmon_packet as read(2) returns it: id, type, transfer type,
    # endpoint, device, bus, setup flag, data flag, seconds, microseconds,
    # status, length, length captured, setup packet.
    HEADER = struct.Struct("<QBBBBHbbqiiII8s")

    def __init__(self):
        self.fd = os.open("/dev/usbmon0", os.O_RDONLY | os.O_NONBLOCK)
        fcntl.ioctl(self.fd, self.SET_RING_SIZE, self.RING_BYTES)

    def stats(self):
        return struct.unpack("<II", fcntl.ioctl(self.fd, self.GET_STATS, b"\0" * 8))

    def events(self):
        """Every event since the monitor was made, in order, and closes it:
        (type "S"/"C", transfer type, endpoint with 0x80 for IN, status,
        length, setup packet, data captured, wall-clock time)."""
        dropped = self.stats()[1]
        if dropped:
            raise RuntimeError(f"usbmon dropped {dropped} events")
        events = []
        while True:
            try:
                raw = os.read(self.fd, self.HEADER.size + 4096)
            except BlockingIOError:
                break
            (_, kind, transfer, endpoint, _, _, _, _, seconds, microseconds, status, length,
             _, setup) = self.HEADER.unpack_from(raw)
            events.append((chr(kind), transfer, endpoint, status, length, setup,
                           raw[self.HEADER.size:], seconds + microseconds / 1e6))
        os.close(self.fd)
        return events


CONTROL, BULK = 2, 3
SET_LINE_CODING = 0x20
SET_CONTROL_LINE_STATE = 0x22


def control_requests(events):
    """The CDC class requests the host sent, in order: (request, value,
    data bytes)."""
    requests = []
    for kind, transfer, endpoint, _, _, setup, data, _ in events:
        if kind == "S" and transfer == CONTROL and endpoint & 0x80 == 0 and setup[0] == 0x21:
            requests.append((setup[1], int.from_bytes(setup[2:4], "little"), data))
    return requests


def bulk_in_bytes(events, after=None):
    """Bytes that bulk IN transfers brought the host (completions with
    status 0), counting only those after `after` (time.time()) when given."""
    return sum(length for kind, transfer, endpoint, status, length, _, _, stamp in events
               if kind == "C" and transfer == BULK and endpoint & 0x80 and status == 0
               and (after is None or stamp > after))
