"""Black-box tests of "getPCIdentification": the ProductId of the version key,
as the real program writes it under Wine.

Tests that change ProductId put the prefix's own value back afterwards, and
keys they add below the version key are removed again.
"""

import unittest

from winebed import Registry, ValuesChanged, run_program

VERSION_KEY = r"SOFTWARE\Microsoft\Windows NT\CurrentVersion"


def get_pc_identification(test, *extra):
    run = run_program("getPCIdentification", *extra)
    test.assertEqual(run.returncode, 0, run)
    test.assertEqual(run.stderr, b"", run)
    return run.stdout


class GetPcIdentificationTest(unittest.TestCase):
    def test_prefix_value_written_without_line_end(self):
        # What a fresh Wine prefix holds; the exact bytes, nothing after them.
        self.assertEqual(get_pc_identification(self), b"12345-oem-0000001-54321")

    def test_further_arguments_are_ignored(self):
        self.assertEqual(get_pc_identification(self, "0x57400483", "extra"),
                         b"12345-oem-0000001-54321")

    def test_value_at_the_version_key(self):
        cases = [
            ("plain text", "CORVEL-7f3a-0042", b"CORVEL-7f3a-0042"),
            # One byte per UTF-16 unit: Latin-1 as itself, anything else '?'.
            ("beyond Latin-1", "Ωmega-é-\u20ac-x", b"?mega-\xe9-?-x"),
            ("empty", "", b""),
        ]
        for name, value, expected in cases:
            with self.subTest(name), ValuesChanged(VERSION_KEY, {"ProductId": value}):
                self.assertEqual(get_pc_identification(self), expected)

    def test_absent_everywhere_gives_empty_output(self):
        with ValuesChanged(VERSION_KEY, {"ProductId": None}):
            self.assertEqual(get_pc_identification(self), b"")

    def test_value_below_the_version_key(self):
        # Sub-keys are searched only when the key itself has no ProductId;
        # the first finding in enumeration order (sorted by name) is written.
        sub = VERSION_KEY + r"\CorvelId"
        cases = [
            ("in a sub-key", None, {sub: {"ProductId": "SUB-1"}}, b"SUB-1"),
            ("two levels down", None,
             {sub: {"Other": "x"}, sub + r"\Inner": {"ProductId": "DEEP-2"}}, b"DEEP-2"),
            ("first sibling in key order", None,
             {sub: {}, sub + r"\Zeta": {"ProductId": "ZETA"},
              sub + r"\Alpha": {"ProductId": "ALPHA"}}, b"ALPHA"),
            ("the key's own value wins over a sub-key", "OWN-3",
             {sub: {"ProductId": "SUB-3"}}, b"OWN-3"),
        ]
        for name, own, keys, expected in cases:
            with self.subTest(name), ValuesChanged(VERSION_KEY, {"ProductId": own}), \
                    Registry(keys=keys):
                self.assertEqual(get_pc_identification(self), expected)


if __name__ == "__main__":
    unittest.main()
