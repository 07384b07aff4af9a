"""Registry torture for "getUSBPort": device trees and port-name data far off
the usual shape, read by the real program under Wine.

Each group builds its keys and serial-map values in one import, asks about
all of its devices in one run, and removes everything afterwards. Every
device here has vendor 7E57, which no other suite uses, and its own product
identifier, so a case sees only its own keys; kernel device names start at
\\Device\\USBSER1000, and ports are numbered from 2000 up (COM9 once, where a
whole port name must fit in eight bytes), clear of the prefix's own COM1.

Wine enumerates sub-keys, and the values of a key, sorted by name; the
fixtures name keys so that this order is plain (zero-padded numbers, or a
leading A, B, C) and insert them in another order where the order matters.
"""

import random
import unittest

from winebed import Registry, raw_value, run_program

USB = r"SYSTEM\CurrentControlSet\Enum\USB"
VENDOR = "7E57"

REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD = 0, 1, 2, 3, 4, 7, 11

# The program keeps at most this many PortName findings per identifier.
FINDINGS_KEPT = 255


def device_key(product):
    return f"{USB}\\VID_{VENDOR}&PID_{product}"


def identifier(product):
    return f"0x{product}{VENDOR}"


def usbser(number):
    return f"\\Device\\USBSER{number}"


def utf16(text):
    return text.encode("utf-16-le")


def lines(product, ports):
    """The expected output for one identifier: a line per port, or "0"."""
    return b"".join(f"{identifier(product)} {port}\n".encode("ascii") for port in ports or [0])


class Device:
    """One device key and what lies below it: {relative path: {value: data}}.
    The device key comes first, so that removing it removes the whole tree."""

    def __init__(self, product, below):
        self.product = product
        self.keys = {device_key(product): {}}
        for path, values in below.items():
            self.keys[f"{device_key(product)}\\{path}"] = values


def run_devices(test, devices, serial, expected_ports):
    """Puts the devices and serial-map values in place, asks for every device
    in one run, and checks the whole output and each device's lines."""
    keys = {}
    for device in devices:
        keys.update(device.keys)
    with Registry(keys=keys, serial=serial):
        run = run_program("getUSBPort", *(identifier(d.product) for d in devices), timeout=120)
    test.assertEqual((run.returncode, run.stderr), (0, b""), run)
    got = {}
    for line in run.stdout.splitlines(keepends=True):
        got.setdefault(line.split(b" ")[0].decode("latin-1"), []).append(line)
    for device in devices:
        with test.subTest(device.product):
            test.assertEqual(b"".join(got.get(identifier(device.product), [])),
                             lines(device.product, expected_ports[device.product]))
    test.assertEqual(run.stdout, b"".join(lines(d.product, expected_ports[d.product])
                                          for d in devices))


class ManyInstancesTest(unittest.TestCase):
    def test_only_the_first_255_findings_give_lines(self):
        rng = random.Random(300)
        count = 300
        names = [f"{n:03d}" for n in range(count)]      # enumeration order
        ports = rng.sample(range(2000, 3000), count)    # unrelated to it
        serial = {usbser(1000 + n): f"COM{ports[n]}" for n in range(count)}

        def instances(port_name_of):
            below = {}
            for n in rng.sample(range(count), count):   # written in shuffled order
                below[names[n]] = {"DeviceDesc": "USB Serial Device"}
                below[names[n] + r"\Device Parameters"] = {"PortName": port_name_of(n)}
            return below

        # All 300 plugged in.
        present = Device("0300", instances(lambda n: f"COM{ports[n]}"))
        # Every fifth unplugged (its port name is in no map entry): it still
        # takes one of the 255 places, so fewer lines come out, not more.
        unplugged = {n for n in range(count) if n % 5 == 2}
        gaps = Device("0301", instances(
            lambda n: "COM99999" if n in unplugged else f"COM{ports[n]}"))
        # After both, an ordinary device still gets its line.
        after = Device("0302", {"1": {}, r"1\Device Parameters": {"PortName": "COM3000"}})
        serial[usbser(1300)] = "COM3000"

        run_devices(self, [present, gaps, after], serial, {
            "0300": ports[:FINDINGS_KEPT],
            "0301": [ports[n] for n in range(FINDINGS_KEPT) if n not in unplugged],
            "0302": [3000],
        })


def terminated(text):
    return utf16(text + "\0")


class PortNameDataTest(unittest.TestCase):
    """PortName data of any type is read as UTF-16 text up to its first zero
    unit or the end of the data (an odd last byte dropped); its type is never
    looked at, and data over 255 bytes is passed over as if absent.

    Wine's regedit ends string-typed data (REG_SZ, REG_EXPAND_SZ,
    REG_MULTI_SZ) with a zero unit when it has none, and an odd last byte
    goes with it, so data without a terminator, or of odd length, is stored
    here as REG_BINARY or REG_NONE: as the type is not looked at, the program
    meets the same bytes a string value without terminator would give it."""

    def test_data_forms(self):
        cases = [
            # (product, keys below the device key, ports expected)
            ("0310", {r"1\Device Parameters": {
                "PortName": raw_value(utf16("COM2401\0COM2402\0\0"), REG_MULTI_SZ)}}, [2401]),
            ("0311", {r"1\Device Parameters": {
                "PortName": raw_value(utf16("COM2403"), REG_BINARY)}}, [2403]),
            ("0312", {r"1\Device Parameters": {
                "PortName": raw_value(utf16("COM2404"), REG_NONE)}}, [2404]),
            ("0313", {r"1\Device Parameters": {
                "PortName": raw_value(terminated("COM2405"), REG_EXPAND_SZ)}}, [2405]),
            ("0314", {r"1\Device Parameters": {
                "PortName": raw_value(terminated("COM2406"), REG_NONE)}}, [2406]),
            # Eight bytes are four units: enough for a port name.
            ("0315", {r"1\Device Parameters": {
                "PortName": raw_value(utf16("COM9"), REG_QWORD)}}, [9]),
            # The odd byte is half a unit: "COM2407", not "COM24078".
            ("0316", {r"1\Device Parameters": {
                "PortName": raw_value(utf16("COM2407") + b"8", REG_BINARY)}}, [2407]),
            ("0317", {r"1\Device Parameters": {
                "PortName": raw_value(terminated("COM2408") + utf16("9"), REG_BINARY)}}, [2408]),
            # Unterminated data right after longer data of a value enumerated
            # before it (values come sorted by name): the text ends with the
            # data, whatever the previous value left behind.
            ("0318", {r"1\Device Parameters": {
                "Aardvark": "COM2409" + "9" * 100,
                "PortName": raw_value(utf16("COM2409"), REG_BINARY)}}, [2409]),
            ("0319", {r"A\Device Parameters": {"PortName": "COM2410" + "7" * 100},
                      r"B\Device Parameters": {
                          "PortName": raw_value(utf16("COM2411"), REG_BINARY)}}, [2411]),
            # A PortName at the instance key is a finding whatever its type,
            # so the search stops there and never reaches the good one below.
            ("031A", {"1": {"PortName": raw_value(utf16("CO"), REG_DWORD)},
                      r"1\Device Parameters": {"PortName": "COM2412"}}, []),
            ("031B", {"1": {"PortName": raw_value(bytes(4), REG_DWORD)},
                      r"1\Device Parameters": {"PortName": "COM2413"}}, []),
            ("031C", {"1": {"PortName": raw_value(b"", REG_SZ)},
                      r"1\Device Parameters": {"PortName": "COM2414"}}, []),
            # Empty findings beside a good one, before and after it.
            ("031D", {r"A\Device Parameters": {"PortName": ""},
                      r"B\Device Parameters": {"PortName": "COM2415"},
                      r"C\Device Parameters": {"PortName": raw_value(bytes(6), REG_BINARY)}},
             [2415]),
            # Over 255 bytes: passed over, not cut short (cut to 255 bytes
            # it would still read "COM2416" / "COM2419").
            ("0320", {r"A\Device Parameters": {
                          "PortName": raw_value(terminated("COM2416").ljust(256, b"\0"))},
                      r"B\Device Parameters": {"PortName": "COM2417"}}, [2417]),
            ("0321", {r"A\Device Parameters": {"PortName": "COM2418"},
                      r"B\Device Parameters": {"PortName": "COM2419" + " " * 200}}, [2418]),
            ("0322", {r"A\Device Parameters": {
                          "PortName": raw_value(utf16("COM2420") * 40, REG_BINARY)},
                      r"B\Device Parameters": {
                          "PortName": raw_value(utf16("COM2421"), REG_NONE)}}, [2421]),
            # Another value over 255 bytes, or with the longest name a value
            # can have, before the PortName in the same key.
            ("0323", {r"1\Device Parameters": {
                "Big": raw_value(bytes(range(256)) * 16, REG_BINARY),
                "PortName": "COM2422"}}, [2422]),
            ("0324", {r"1\Device Parameters": {"A" * 16383: "COM2423" + "1" * 60,
                                               "PortName": "COM2423"}}, [2423]),
        ]
        devices = [Device(product, below) for product, below, _ in cases]
        listed = ["COM2401", "COM2402", "COM2403", "COM2404", "COM2405", "COM2406", "COM9",
                  "COM2407", "COM24078", "COM2408", "COM2409", "COM2410", "COM2411",
                  "COM2412", "COM2413", "COM2414", "COM2415", "COM2416", "COM2417", "COM2418",
                  "COM2419", "COM2420", "COM2421", "COM2422", "COM2423"]
        serial = {usbser(1400 + n): port for n, port in enumerate(listed)}
        run_devices(self, devices, serial, {product: ports for product, _, ports in cases})


class DeepAndLongKeysTest(unittest.TestCase):
    def test_deep_trees_and_longest_names(self):
        def chain(names):
            return "\\".join(names)

        short_levels = chain(f"L{n:02d}" for n in range(40))
        long_levels = chain(f"level-{n:02d}-{'x' * 13}" for n in range(40))   # ~900 characters
        widest = ["A" + "L" * 254, "B" + "\u0416" * 254, "C" + "\U0001F600" * 127]
        for name in widest:
            assert len(utf16(name)) // 2 == 255, name     # the most a key name may hold
        cases = [
            ("0330", {f"1\\{short_levels}": {"PortName": "COM2501"}}, [2501]),
            ("0331", {f"1\\{long_levels}": {"PortName": "COM2502"}}, [2502]),
            # Two deep branches: both found, in key order.
            ("0332", {f"B\\{long_levels}": {"PortName": "COM2504"},
                      f"A\\{short_levels}": {"PortName": "COM2503"}}, [2503, 2504]),
            # A finding half-way down stops that branch; its sibling goes on.
            ("0333", {f"1\\{chain(f'L{n:02d}' for n in range(20))}": {"PortName": "COM2505"},
                      f"1\\{short_levels}": {"PortName": "COM2506"},
                      f"2\\{short_levels}": {"PortName": "COM2507"}}, [2505, 2507]),
            ("0334", {f"{name}\\Device Parameters": {"PortName": f"COM{2508 + n}"}
                      for n, name in reversed(list(enumerate(widest)))}, [2508, 2509, 2510]),
            # Three levels of the longest names: a path of over 800 characters.
            ("0335", {f"{chain(widest)}\\Device Parameters": {"PortName": "COM2511"}}, [2511]),
        ]
        devices = [Device(product, below) for product, below, _ in cases]
        serial = {usbser(1500 + n): f"COM{port}"
                  for n, port in enumerate(range(2501, 2512))}
        run_devices(self, devices, serial, {product: ports for product, _, ports in cases})


if __name__ == "__main__":
    unittest.main()
