"""Black-box tests of "getUSBPort": the real program under Wine, reading device
keys and serial-map entries that each case puts into the prefix's registry.

Every case uses its own vendor/product pair, port names and kernel device
names, so a case can only ever see its own keys.
"""

import unittest
from collections import namedtuple

import winebed
from winebed import Registry, raw_value, run_program

USB = r"SYSTEM\CurrentControlSet\Enum\USB"


def device_key(vendor, product):
    return f"{USB}\\VID_{vendor}&PID_{product}"


device = winebed.usb_device


def usbser(number):
    return f"\\Device\\USBSER{number}"


def port_name_data(port, size):
    """A PortName stored with its terminator, zero-padded to `size` bytes."""
    return raw_value((port + "\0").encode("utf-16-le").ljust(size, b"\0"))


def many_identifiers():
    """300 identifiers alternating between a present device and an unknown
    one, each made unique by a suffix after the vendor field."""
    args, lines = [], []
    for n in range(300):
        if n % 2 == 0:
            args.append(f"0x57900483#{n:03d}")
            lines.append(f"0x57900483#{n:03d} 79\n")
        else:
            args.append(f"0x0bad0bad#{n:03d}")
            lines.append(f"0x0bad0bad#{n:03d} 0\n")
    return args, "".join(lines).encode("ascii")


Case = namedtuple("Case", "name keys serial args expected")

_MANY_ARGS, _MANY_EXPECTED = many_identifiers()
_LONG_ID = "0x57A00483" + "L" * 5000

CASES = [
    Case("one device on COM7",
         device("0483", "5740", {"5&1A2B3C4D&0&1": "COM7"}), {usbser(3): "COM7"},
         ["0x57400483"], b"0x57400483 7\n"),
    # Wine enumerates sub-keys sorted by name: the "1A" instance comes first
    # although it was written second and has the higher port number.
    Case("two present instances, in key order",
         device("1A86", "7523", {"5&2B&0&2": "COM23", "5&1A&0&1": "COM24"}),
         {usbser(10): "COM23", usbser(11): "COM24"},
         ["0x75231A86"], b"0x75231A86 24\n0x75231A86 23\n"),
    Case("unplugged instance before a present one",
         device("2341", "0043", {"A1": "COM25", "B2": "COM26"}), {usbser(12): "COM26"},
         ["0x00432341"], b"0x00432341 26\n"),
    Case("two instances sharing a port name",
         device("10C4", "EA60", {"A": "COM27", "B": "COM27"}), {usbser(13): "COM27"},
         ["0xEA6010C4"], b"0xEA6010C4 27\n0xEA6010C4 27\n"),
    Case("port of another driver",
         device("067B", "2303", {"1": "COM28"}), {r"\Device\Serial5": "COM28"},
         ["0x2303067B"], b"0x2303067B 0\n"),
    Case("driver name in other case",
         device("0403", "6010", {"1": "COM30"}), {r"\device\usbser14": "COM30"},
         ["0x60100403"], b"0x60100403 0\n"),
    Case("USBSER000 counts",
         device("0403", "6001", {"1": "COM29"}), {usbser("000"): "COM29"},
         ["0x60010403"], b"0x60010403 29\n"),
    Case("device known, no port name",
         {device_key("0451", "BEF3"): {}, device_key("0451", "BEF3") + r"\1": {"DeviceDesc": "x"}},
         {}, ["0xBEF30451"], b"0xBEF30451 0\n"),
    Case("lowercase hex finds the key and is echoed as given",
         device("ABCD", "EF01", {"1": "COM31"}), {usbser(15): "COM31"},
         ["0xef01abcd", "0xEf01AbCd"], b"0xef01abcd 31\n0xEf01AbCd 31\n"),
    Case("positions 0-1 and after 9 are echoed but not used",
         device("04D8", "000A", {"1": "COM32"}), {usbser(16): "COM32"},
         ["ZZ000A04D8", "0x000A04D8/9999:FFFF"],
         b"ZZ000A04D8 32\n0x000A04D8/9999:FFFF 32\n"),
    Case("value name in other case",
         {device_key("1FC9", "0083"): {},
          device_key("1FC9", "0083") + r"\1\Device Parameters": {"portname": "COM33"}},
         {usbser(17): "COM33"}, ["0x00831FC9"], b"0x00831FC9 0\n"),
    Case("PortName of 255 bytes is read",
         {device_key("16C0", "0483"): {},
          device_key("16C0", "0483") + r"\1\Device Parameters": {"PortName": port_name_data("COM35", 255)}},
         {usbser(18): "COM35"}, ["0x048316C0"], b"0x048316C0 35\n"),
    Case("PortName of more than 255 bytes is skipped",
         {device_key("16C0", "05E1"): {},
          device_key("16C0", "05E1") + r"\1\Device Parameters": {"PortName": port_name_data("COM34", 256)}},
         {usbser(19): "COM34"}, ["0x05E116C0"], b"0x05E116C0 0\n"),
    # Found at the instance key, the search goes no deeper: the port in
    # "Device Parameters" below it must not give a second line.
    Case("PortName at the instance key stops the descent",
         {device_key("2E8A", "000A"): {},
          device_key("2E8A", "000A") + r"\1": {"PortName": "COM36"},
          device_key("2E8A", "000A") + r"\1\Device Parameters": {"PortName": "COM37"}},
         {usbser(20): "COM36", usbser(21): "COM37"}, ["0x000A2E8A"], b"0x000A2E8A 36\n"),
    # Each UTF-16 unit is one output byte: Latin-1 as itself, the rest '?'
    # (a character outside the BMP is two units, so two '?'). Two prefix
    # characters keep the fields at positions 2..9 in UTF-16 units.
    Case("characters beyond ASCII in the identifier",
         device("1209", "0001", {"1": "COM38"}), {usbser(22): "COM38"},
         ["éΩ00011209", "0x00011209é-Ω-\U0001F600"],
         b"\xe9?00011209 38\n0x00011209\xe9-?-?? 38\n"),
    # The short ones follow a full identifier of a present device: fields
    # left over from it would find that device again.
    Case("short identifiers give port 0",
         device("0483", "5760", {"1": "COM39"}), {usbser(23): "COM39"},
         ["0x57600483", "0x5760048", "0x576004", "0x5760", "0x576", "0x", ""],
         b"0x57600483 39\n0x5760048 0\n0x576004 0\n0x5760 0\n0x576 0\n0x 0\n 0\n"),
    Case("very long identifier is echoed whole",
         device("0483", "57A0", {"1": "COM40"}), {usbser(24): "COM40"},
         [_LONG_ID], _LONG_ID.encode("ascii") + b" 40\n"),
    Case("hundreds of identifiers, all lines in order",
         device("0483", "5790", {"1": "COM79"}), {usbser(25): "COM79"},
         _MANY_ARGS, _MANY_EXPECTED),
]


# "listUSBPorts": every present port of every device key of the form
# VID_vvvv&PID_pppp, in the order Wine enumerates keys (sorted by name), in
# getUSBPort's own lines.
ListCase = namedtuple("ListCase", "name keys serial expected")


def merged(*key_sets):
    keys = {}
    for key_set in key_sets:
        keys.update(key_set)
    return keys


def many_instances(vendor, product, count, first_port):
    """count present instances named 000, 001, ..., on consecutive ports."""
    instances = {f"{n:03d}": f"COM{first_port + n}" for n in range(count)}
    serial = {usbser(f"{vendor}{n:03d}"): f"COM{first_port + n}" for n in range(count)}
    return device(vendor, product, instances), serial


_MANY_KEYS, _MANY_SERIAL = many_instances("0483", "5799", 300, 2000)

LIST_CASES = [
    ListCase("none present", {}, {}, b""),
    ListCase("only an unplugged device",
             device("0483", "5740", {"1": "COM7"}), {}, b""),
    ListCase("one device", device("0483", "5740", {"1": "COM7"}), {usbser(3): "COM7"},
             b"0x57400483 7\n"),
    ListCase("two devices, in key order",
             merged(device("1A86", "7523", {"1": "COM23"}), device("0403", "6001", {"1": "COM29"})),
             {usbser(10): "COM23", usbser(11): "COM29"},
             b"0x60010403 29\n0x75231A86 23\n"),
    ListCase("two instances of one device",
             device("1A86", "7523", {"5&2B&0&2": "COM23", "5&1A&0&1": "COM24"}),
             {usbser(10): "COM23", usbser(11): "COM24"},
             b"0x75231A86 24\n0x75231A86 23\n"),
    ListCase("unplugged instance beside a present one",
             device("2341", "0043", {"A1": "COM25", "B2": "COM26"}), {usbser(12): "COM26"},
             b"0x00432341 26\n"),
    ListCase("a port of another driver is passed over",
             merged(device("067B", "2303", {"1": "COM28"}), device("2341", "0043", {"1": "COM26"})),
             {r"\Device\Serial5": "COM28", usbser(12): "COM26"},
             b"0x00432341 26\n"),
    # Both odd keys hold a present USB serial port: the composite function's
    # lists under its device's identifier, the hub's under none.
    ListCase("composite function listed, hub key skipped",
             merged({f"{USB}\\VID_0483&PID_5740&MI_00": {}},
                    winebed.usb_instance("0483", "5740&MI_00", "1", "COM50"),
                    {f"{USB}\\ROOT_HUB20": {}},
                    {f"{USB}\\ROOT_HUB20\\4&1&0": {"PortName": "COM51"}},
                    device("2341", "0043", {"1": "COM52"})),
             {usbser(30): "COM50", usbser(31): "COM51", usbser(32): "COM52"},
             b"0x57400483 50\n0x00432341 52\n"),
    ListCase("lower-case hex in the key name is kept",
             device("10c4", "ea60", {"1": "COM27"}), {usbser(13): "COM27"},
             b"0xea6010c4 27\n"),
    ListCase("300 instances: the first 255 give lines",
             _MANY_KEYS, _MANY_SERIAL,
             b"".join(f"0x57990483 {2000 + n}\n".encode() for n in range(255))),
    # One UTF-16 unit per output byte, as getUSBPort: the number is what
    # "COM%d" reads, whatever follows it.
    ListCase("port names beyond ASCII",
             merged(device("1209", "0001", {"1": "COM9\u00e9\u03a9"}),
                    device("1209", "0002", {"1": "C\u00d6M8"})),
             {usbser(22): "COM9\u00e9\u03a9", usbser(23): "C\u00d6M8"},
             b"0x00011209 9\n"),
]


# Composite devices: Windows keeps the device under VID_vvvv&PID_pppp and each
# function under VID_vvvv&PID_pppp&MI_xx beside it; a serial function's port
# lives in its function key. getUSBPort gives the device key's instances first,
# then each function key's, keys in enumeration order (Wine's: sorted by name);
# listUSBPorts gives the same lines under the same identifier.
CompositeCase = namedtuple("CompositeCase", "name keys serial args get_expected list_expected")

composite = winebed.usb_composite


def function_keys(vendor, product, interface, count, first_port):
    """count present instances of one function, named 000, 001, ..."""
    return device(vendor, f"{product}&MI_{interface}",
                  {f"{n:03d}": f"COM{first_port + n}" for n in range(count)})


COMPOSITE_CASES = [
    CompositeCase("serial function at MI_00, HID function at MI_02",
                  composite("2E8A", "0005", {"00": {"6&1A&0&0000": "COM41"},
                                             "02": {"6&1B&0&0002": None}}),
                  {usbser(40): "COM41"},
                  ["0x00052E8A"], b"0x00052E8A 41\n", b"0x00052E8A 41\n"),
    CompositeCase("serial function at MI_02",
                  composite("239A", "80F4", {"00": {"6&2A&0&0000": None},
                                             "02": {"6&2B&0&0002": "COM42"}}),
                  {usbser(41): "COM42"},
                  ["0x80F4239A"], b"0x80F4239A 42\n", b"0x80F4239A 42\n"),
    # In key order, not by port number.
    CompositeCase("two serial functions of one device",
                  composite("0483", "3752", {"00": {"7&3A&0&0000": "COM44"},
                                             "02": {"7&3B&0&0002": "COM43"}}),
                  {usbser(42): "COM43", usbser(43): "COM44"},
                  ["0x37520483"], b"0x37520483 44\n0x37520483 43\n",
                  b"0x37520483 44\n0x37520483 43\n"),
    CompositeCase("composite device unplugged",
                  composite("1366", "1015", {"00": {"8&4A&0&0000": "COM45"}}),
                  {}, ["0x10151366"], b"0x10151366 0\n", b""),
    # The device key's instance sorts after the function's, yet comes first.
    CompositeCase("device key and function key of one identifier",
                  merged(device("2341", "8036", {"ZZ": "COM48"}),
                         device("2341", "8036&MI_00", {"00": "COM47"})),
                  {usbser(44): "COM47", usbser(45): "COM48"},
                  ["0x80362341"], b"0x80362341 48\n0x80362341 47\n",
                  b"0x80362341 48\n0x80362341 47\n"),
    CompositeCase("lower-case hex in the key names",
                  composite("1a86", "55d4", {"0a": {"9&5A&0&000A": "COM49"}}),
                  {usbser(46): "COM49"},
                  ["0x55D41A86", "0x55d41a86"], b"0x55D41A86 49\n0x55d41a86 49\n",
                  b"0x55d41a86 49\n"),
    # Only the well-formed function key gives its port; each of the others
    # holds a present port too.
    CompositeCase("interface numbers of other than two hex digits are skipped",
                  merged(device("0483", "5741&MI_0", {"1": "COM50"}),
                         device("0483", "5741&MI_000", {"1": "COM51"}),
                         device("0483", "5741&MI_0G", {"1": "COM52"}),
                         device("0483", "5741&MIX00", {"1": "COM53"}),
                         device("0483", "5741&MI_01", {"1": "COM54"})),
                  {usbser(47): "COM50", usbser(48): "COM51", usbser(49): "COM52",
                   usbser(50): "COM53", usbser(51): "COM54"},
                  ["0x57410483"], b"0x57410483 54\n", b"0x57410483 54\n"),
    CompositeCase("a key that only begins like the identifier's",
                  device("0483", "57401&MI_00", {"1": "COM55"}),
                  {usbser(52): "COM55"}, ["0x57400483"], b"0x57400483 0\n", b""),
    # 200 instances below the device key, 100 below a function key: the first
    # 255 give lines, the device key's first.
    CompositeCase("255 lines at most, across the device's keys",
                  merged(many_instances("0483", "5798", 200, 3000)[0],
                         function_keys("0483", "5798", "00", 100, 3200)),
                  merged(many_instances("0483", "5798", 200, 3000)[1],
                         {usbser(f"9{n:03d}"): f"COM{3200 + n}" for n in range(100)}),
                  ["0x57980483"],
                  b"".join(f"0x57980483 {3000 + n}\n".encode() for n in range(255)),
                  b"".join(f"0x57980483 {3000 + n}\n".encode() for n in range(255))),
]


def list_usb_ports(test, *args):
    run = run_program("listUSBPorts", *args)
    test.assertEqual(run.returncode, 0, run)
    test.assertEqual(run.stderr, b"", run)
    return run.stdout


def listed_identifiers(listing):
    """The distinct identifiers of a listing, in the order they appear."""
    identifiers = []
    for line in listing.decode("latin-1").splitlines():
        identifier = line.split(" ")[0]
        if identifier not in identifiers:
            identifiers.append(identifier)
    return identifiers


def get_usb_port(test, *args):
    # Arguments go to Wine as UTF-8 bytes, whatever the caller's locale.
    run = run_program("getUSBPort", *(arg.encode("utf-8") for arg in args))
    test.assertEqual(run.returncode, 0, run)
    test.assertEqual(run.stderr, b"", run)
    return run.stdout


class GetUsbPortTest(unittest.TestCase):
    def test_cases(self):
        for case in CASES:
            with self.subTest(case.name):
                with Registry(keys=case.keys, serial=case.serial):
                    self.assertEqual(get_usb_port(self, *case.args), case.expected)

    def test_no_identifiers_writes_nothing(self):
        self.assertEqual(get_usb_port(self), b"")


class ListUsbPortsTest(unittest.TestCase):
    def test_cases(self):
        for case in LIST_CASES:
            with self.subTest(case.name):
                with Registry(keys=case.keys, serial=case.serial):
                    listing = list_usb_ports(self)
                    self.assertEqual(listing, case.expected)
                    # Every listed identifier finds the same ports again.
                    identifiers = listed_identifiers(listing)
                    if identifiers:
                        self.assertEqual(get_usb_port(self, *identifiers), listing)

    def test_further_arguments_are_ignored(self):
        with Registry(keys=device("0483", "5740", {"1": "COM7"}), serial={usbser(3): "COM7"}):
            for args in (["0x00000000"], ["0x57400483", "x" * 5000], [""], ["open", "x", "7"]):
                with self.subTest(args=[arg[:20] for arg in args]):
                    self.assertEqual(list_usb_ports(self, *args), b"0x57400483 7\n")


# Device keys without instances: they list nothing, but make the tree large.
# Over 256 keys per identifier looked up, getUSBPort tries the names a
# device's function keys can have instead of walking the tree; the answers
# must not change.
LARGE_TREE = {f"{USB}\\VID_FFFF&PID_{n:04X}": {} for n in range(600)}


class CompositeDeviceTest(unittest.TestCase):
    def check_cases(self, tree_size):
        for case in COMPOSITE_CASES:
            with self.subTest(case.name, tree=tree_size):
                with Registry(keys=case.keys, serial=case.serial):
                    self.assertEqual(get_usb_port(self, *case.args), case.get_expected)
                    listing = list_usb_ports(self)
                    self.assertEqual(listing, case.list_expected)
                    identifiers = listed_identifiers(listing)
                    if identifiers:
                        self.assertEqual(get_usb_port(self, *identifiers), listing)

    def test_cases(self):
        self.check_cases("small")

    def test_cases_in_a_large_tree(self):
        with Registry(keys=LARGE_TREE):
            self.check_cases("large")


if __name__ == "__main__":
    unittest.main()
