"""Black-box tests of the command choice: the first argument picks a command
only when it is exactly one of the keywords, case and length included.

Each command is given arguments that make it visible when it runs: an
unknown device gives a "<id> 0" line, the identification is never empty in
a Wine prefix, "open" with port 0 ends with exit code 2, and "listUSBPorts"
lists the one USB serial device this suite puts into the registry. A keyword
that is not an exact match must show none of that.
"""

import unittest

import winebed
from winebed import Registry, run_program

LISTED_DEVICE = Registry(keys=winebed.usb_device("0D15", "0D15", {"1": "COM44"}),
                         serial={r"\Device\USBSER44": "COM44"})

# keyword, its arguments, and (exit code, stdout) when the keyword matches
COMMANDS = [
    ("getUSBPort", ["0x0bad0bad"], (0, b"0x0bad0bad 0\n")),
    ("getPCIdentification", [], (0, b"12345-oem-0000001-54321")),
    ("open", ["corvel-no-such-host.exe", "0"], (2, b"")),
    ("listUSBPorts", [], (0, b"0x0D150D15 44\n")),
]

NEAR_MISSES = {
    "getUSBPort": ["getusbport", "GETUSBPORT", "getUSBPortX", "getUSBPor", "GetUSBPort",
                   " getUSBPort", "getUSBPort "],
    "getPCIdentification": ["getpcidentification", "GETPCIDENTIFICATION",
                            "getPCIdentificationX", "getPCIdentificatio"],
    "open": ["open2", "OPEN", "Open", "ope", "opened", ""],
    "listUSBPorts": ["listusbports", "ListUSBPorts", "listUsbPorts", "listUSBPort",
                     "listUSBPortsX", "listUSBPorts\t"],
}


def setUpModule():
    LISTED_DEVICE.__enter__()


def tearDownModule():
    LISTED_DEVICE.__exit__(None, None, None)


def run(test, *args):
    done = run_program(*(arg.encode("utf-8") for arg in args))
    # The program never speaks on standard error, whatever happens.
    test.assertEqual(done.stderr, b"", done)
    return done


class DispatchTest(unittest.TestCase):
    def test_no_arguments_exit_1_and_no_output(self):
        done = run(self)
        self.assertEqual((done.returncode, done.stdout), (1, b""), done)

    def test_exact_keyword_runs_its_command(self):
        for keyword, args, expected in COMMANDS:
            with self.subTest(keyword):
                done = run(self, keyword, *args)
                self.assertEqual((done.returncode, done.stdout), expected, done)

    def test_near_miss_runs_nothing(self):
        for keyword, args, _ in COMMANDS:
            for word in NEAR_MISSES[keyword]:
                with self.subTest(repr(word)):
                    done = run(self, word, *args)
                    self.assertEqual((done.returncode, done.stdout), (0, b""), done)


if __name__ == "__main__":
    unittest.main()
