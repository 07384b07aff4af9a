"""Which view of HKLM\\SOFTWARE each executable reads: Windows keeps a 64-bit
and a 32-bit view of it (the latter below Wow6432Node) and shows a 32-bit
program the 32-bit one. With ProductId set differently in the two views of
the version key, "getPCIdentification" must give each executable's own.

Needs both executables and Wine's 32-bit loader, so it runs in the guest of
scripts/test-x32.sh: CORVEL_X64_EXE and CORVEL_X32_EXE name them.
"""

import os
import re
import subprocess
import unittest

import winebed

VERSION_KEY = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion"


def reg(*args, view):
    """Wine's 64-bit reg on one view ("32" or "64") of the registry."""
    return subprocess.run([winebed.WINE64, "reg", *args, f"/reg:{view}"], capture_output=True,
                          env=winebed.wine_env(winebed.prefix_path()), timeout=60)


def product_id(view):
    """ProductId of the version key in that view, or None."""
    done = reg("query", VERSION_KEY, "/v", "ProductId", view=view)
    found = re.search(rb"ProductId\s+REG_SZ\s+(.*?)\r?$", done.stdout, re.M)
    return found.group(1).decode() if done.returncode == 0 and found else None


def set_product_id(value, view):
    if value is None:
        done = reg("delete", VERSION_KEY, "/v", "ProductId", "/f", view=view)
    else:
        done = reg("add", VERSION_KEY, "/v", "ProductId", "/t", "REG_SZ", "/d", value, "/f",
                   view=view)
    if done.returncode != 0:
        raise RuntimeError(f"reg /reg:{view} failed: {done.stderr!r}")


class ProductIdViews:
    """ProductId set per view ({view: value}), put back as it was on exit."""

    def __init__(self, values):
        self.values = values

    def __enter__(self):
        self.saved = {view: product_id(view) for view in self.values}
        for view, value in self.values.items():
            set_product_id(value, view)
        return self

    def __exit__(self, *exc):
        for view, value in self.saved.items():
            set_product_id(value, view)
        return False


class RegistryViewTest(unittest.TestCase):
    def test_each_executable_reads_its_own_view(self):
        programs = [("corvel_x64.exe", os.environ["CORVEL_X64_EXE"], winebed.WINE64),
                    ("corvel_x32.exe", os.environ["CORVEL_X32_EXE"], winebed.WINE32)]
        # Each way round, so that neither answer can come from a fixed value.
        cases = [{"64": "VIEW-64-a1", "32": "VIEW-32-b2"},
                 {"64": "VIEW-64-c3", "32": "VIEW-32-d4"}]
        for values in cases:
            with ProductIdViews(values):
                self.assertEqual((product_id("64"), product_id("32")), (values["64"], values["32"]),
                                 "the two views hold what was written")
                for (name, exe, wine), view in zip(programs, ("64", "32")):
                    with self.subTest(name, values=values):
                        run = winebed.run_program("getPCIdentification", exe=exe, wine=wine)
                        print(f"\n  {name}: {run.stdout!r} (64-bit view {values['64']!r},"
                              f" 32-bit view {values['32']!r})")
                        self.assertEqual((run.returncode, run.stdout, run.stderr),
                                         (0, values[view].encode(), b""))

    def test_fresh_prefix_has_the_value_in_both_views(self):
        # What the prefix itself gives each executable, before any change.
        for name, exe, wine in [("corvel_x64.exe", os.environ["CORVEL_X64_EXE"], winebed.WINE64),
                                ("corvel_x32.exe", os.environ["CORVEL_X32_EXE"], winebed.WINE32)]:
            with self.subTest(name):
                run = winebed.run_program("getPCIdentification", exe=exe, wine=wine)
                print(f"\n  {name} in a fresh prefix: {run.stdout!r}")
                self.assertEqual((run.returncode, run.stdout, run.stderr),
                                 (0, b"12345-oem-0000001-54321", b""))


if __name__ == "__main__":
    unittest.main()
