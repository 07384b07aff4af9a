"""A signed corvel answers exactly as the unsigned one it was made from:
CORVEL_SIGNED_EXE beside CORVEL_EXE, the same stdout, stderr and exit code for
getPCIdentification and for getUSBPort of a present and an absent device.
The release's signing check runs it for corvel_x64.exe on this machine; the
32-bit guest runs it for corvel_x32.exe, signed by scripts/test-x32.sh."""

import os
import struct
import unittest

from winebed import Registry, run_program, usb_device

COMMANDS = [("getPCIdentification",), ("getUSBPort", "0x57400483", "0x12345678")]


def certificate_table_size(data):
    """The size of a PE file's certificate table (data directory 4), where an
    Authenticode signature lives; 0 for an unsigned file."""
    header = struct.unpack_from("<I", data, 0x3C)[0]
    optional = header + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    return struct.unpack_from("<II", data, directories + 4 * 8)[1]


def assert_answers_alike(test, signed, unsigned):
    device = usb_device("0483", "5740", {"SIGNED01": "COM7"})
    with Registry(keys=device, serial={r"\Device\USBSER000": "COM7"}):
        for args in COMMANDS:
            with test.subTest(args[0]):
                expected = run_program(*args, exe=unsigned)
                got = run_program(*args, exe=signed)
                test.assertEqual((got.returncode, got.stdout, got.stderr),
                                 (expected.returncode, expected.stdout, expected.stderr))
                test.assertEqual(got.returncode, 0)
                test.assertNotEqual(got.stdout, b"")


class SignedAnswersAsUnsigned(unittest.TestCase):
    def test_signed_executable_answers_as_the_unsigned_one(self):
        signed = os.environ["CORVEL_SIGNED_EXE"]
        with open(signed, "rb") as handle:
            self.assertGreater(certificate_table_size(handle.read()), 0, f"{signed} is not signed")
        assert_answers_alike(self, signed, os.environ["CORVEL_EXE"])


if __name__ == "__main__":
    unittest.main()
