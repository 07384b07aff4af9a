"""Argument storm: hundreds of generated command lines run against the real
program under Wine, each checked for the exact outcome.

Every run must end by itself (no hang, no crash), say nothing on standard
error, end with exactly the exit code the command line calls for, and write
exactly the expected bytes. The command lines come from a seeded generator:
near-miss keywords, identifiers of every shape (empty, short, characters
outside Latin-1 and outside the BMP, quotes and backslashes, 10,000
characters, thousands of them up to the command-line limit), and "open" with
signs, overflows and non-numbers as its port.

No device key that an identifier here could name exists (well-formed ones use
vendor 0000, which is never assigned), so every identifier gets the line
"<identifier> 0". "open" never reaches a real port: every port argument
stands for 0, for no number at all, or for a port number no COM device can
have (negative, or a million and up), so "open" ends at once with exit code 2.
Where a group needs a command's output to be visible (a near miss that ran
"listUSBPorts" would print), one USB serial device of its own is present.

The seed is fixed and printed; a failing case is named by its group and
number and shows its arguments, and the same seed rebuilds it.
"""

import concurrent.futures
import os
import random
import subprocess
import sys
import unittest
from collections import namedtuple

import winebed
from winebed import Registry, run_program

SEED = 20240611

KEYWORDS = ("getUSBPort", "getPCIdentification", "open", "listUSBPorts")

# Windows command lines hold at most 32767 UTF-16 units with the terminator;
# Wine refuses to start a program whose command line is longer (exit 1,
# before the program runs).
COMMAND_LINE_LIMIT = 32766

RUN_TIMEOUT = 30
WORKERS = 4

# No process of this name runs in the prefix.
ABSENT_HOST = "corvel-storm-no-such-host.exe"

Case = namedtuple("Case", "name args returncode stdout")

# A present USB serial device, so that listUSBPorts has a line to show and a
# near miss of its keyword that ran it would be seen.
LISTED_DEVICE = winebed.usb_device("5707", "0A0A", {"1": "COM43"})
LISTED_SERIAL = {r"\Device\USBSER43": "COM43"}
LISTED_LINES = b"0x0A0A5707 43\n"


# --- What the program must write --------------------------------------------

def console_bytes(text):
    """The program writes one byte per UTF-16 unit: U+0000..U+00FF as that
    byte, anything else (each half of a surrogate pair too) as '?'."""
    raw = text.encode("utf-16-le", "surrogatepass")
    units = (int.from_bytes(raw[i:i + 2], "little") for i in range(0, len(raw), 2))
    return bytes(unit if unit <= 0xFF else 0x3F for unit in units)


def unknown_device_lines(identifiers):
    return b"".join(console_bytes(identifier) + b" 0\n" for identifier in identifiers)


def utf16_units(text):
    return len(text.encode("utf-16-le", "surrogatepass")) // 2


# --- Command-line length as Wine builds it ----------------------------------

def quoted_units(arg):
    """Units `arg` takes in the command line Wine builds from argv: quoted
    when empty or holding a blank or tab, a quote escaped with a backslash,
    and backslashes doubled where they precede a quote or the closing quote."""
    quote = arg == "" or " " in arg or "\t" in arg
    units, backslashes = 0, 0
    for char in arg:
        if char == "\\":
            backslashes += 1
            continue
        if char == '"':
            units += 2 * backslashes + 2
        else:
            units += backslashes + utf16_units(char)
        backslashes = 0
    units += 2 * backslashes if quote else backslashes
    return units + (2 if quote else 0)


def command_line_units(args):
    """The whole command line: the quoted DOS path of the program (Wine names
    a Unix path Z:\\...; a path inside the prefix's C: drive is shorter, so
    this is an upper bound), then every argument after a blank."""
    path = '"Z:' + os.path.abspath(winebed.program()).replace("/", "\\") + '"'
    return len(path) + sum(1 + quoted_units(arg) for arg in args)


def up_to_limit(candidates, keyword="getUSBPort", pad_char="p"):
    """Takes arguments from `candidates` while they fit, then one plain
    argument that brings the command line to exactly the limit."""
    taken = []
    used = command_line_units([keyword])
    for arg in candidates:
        # what is left must still hold a blank and one padding character
        if used + 1 + quoted_units(arg) > COMMAND_LINE_LIMIT - 2:
            break
        taken.append(arg)
        used += 1 + quoted_units(arg)
    return [*taken, pad_char * (COMMAND_LINE_LIMIT - used - 1)]


# --- Character pools --------------------------------------------------------

def _chars(*ranges):
    return [chr(c) for start, end in ranges for c in range(start, end + 1)]


# NUL cannot be in an argument; lone surrogates cannot be written in UTF-8,
# the form in which Wine takes arguments from Linux. Everything else reaches
# the program unchanged (Wine quotes and escapes as the runtime's parser
# expects; tried with a program that echoes its arguments): controls, line
# ends, blanks, quotes, backslashes, wildcards, non-characters, empty strings.
ASCII = _chars((0x01, 0x7F))
PRINTABLE = _chars((0x20, 0x7E))
LATIN1 = _chars((0x01, 0xFF))
BMP_HIGH = _chars((0x100, 0xD7FF), (0xE000, 0xFFFF))
ASTRAL = _chars((0x10000, 0x10FFF), (0x1F300, 0x1F64F), (0x10FF00, 0x10FFFF))
SHELLISH = list(' \t"\\*?%^&|<>()\'`$;!~')
HEX = "0123456789abcdefABCDEF"
UNICODE_SPACES = ["\u00a0", "\u1680", "\u2000", "\u2007", "\u200a", "\u2028", "\u2029",
                  "\u202f", "\u205f", "\u3000", "\u200b", "\ufeff"]

# Characters that look like, or reduce to, a keyword's letter: Cyrillic and
# Greek homoglyphs, accented Latin-1, the fullwidth form, the bold
# mathematical letter (outside the BMP), and the character whose low byte is
# the letter (caught only by a comparison that looks at all 16 bits).
HOMOGLYPHS = {
    "a": "\u0430", "c": "\u0441", "e": "\u0435", "i": "\u0456", "n": "\u0578",
    "o": "\u043e", "p": "\u0440", "t": "\u0442", "I": "\u0399", "B": "\u0392",
    "C": "\u0421", "P": "\u0420", "S": "\u0405", "U": "\u054d", "d": "\u0501",
}
LATIN1_ACCENTED = {"e": "\u00e9", "o": "\u00f6", "i": "\u00ed", "U": "\u00dc",
                   "n": "\u00f1", "a": "\u00e0", "u": "\u00fc", "I": "\u00cf",
                   "C": "\u00c7", "P": "\u00de"}


def lookalikes(char):
    found = [chr(0x100 | ord(char)), chr(0xFF00 | ord(char)), chr(ord(char) + 0xFEE0)]
    if char.isupper():
        found.append(chr(0x1D400 + ord(char) - ord("A")))
    elif char.islower():
        found.append(chr(0x1D41A + ord(char) - ord("a")))
    for table in (HOMOGLYPHS, LATIN1_ACCENTED):
        if char in table:
            found.append(table[char])
    return found


def random_text(rng, pool, length):
    return "".join(rng.choice(pool) for _ in range(length))


# --- Generators -------------------------------------------------------------

def near_miss(rng, keyword):
    """One keyword changed in one or two small ways."""
    word = keyword
    for _ in range(rng.choice((1, 1, 1, 2))):
        kind = rng.randrange(8)
        at = rng.randrange(len(word)) if word else 0
        if kind == 0 and any(c.isalpha() for c in word):    # case of some letters
            word = "".join(c.swapcase() if c.isalpha() and rng.random() < 0.4 else c
                           for c in word)
        elif kind == 1 and word:                            # one character less
            word = word[:at] + word[at + 1:]
        elif kind == 2:                                     # one character more
            word = word[:at] + rng.choice(PRINTABLE) + word[at:]
        elif kind == 3 and word:                            # a look-alike letter
            word = word[:at] + rng.choice(lookalikes(word[at])) + word[at + 1:]
        elif kind == 4:                                     # blank before or after
            blank = rng.choice([" ", "\t", "\n", *UNICODE_SPACES])
            word = word + blank if rng.random() < 0.6 else blank + word
        elif kind == 5:                                     # invisible or combining mark
            word = word[:at + 1] + rng.choice(["\u200b", "\u200d", "\u00ad", "\u0301",
                                               "\ufeff"]) + word[at + 1:]
        elif kind == 6:                                     # half or double
            word = rng.choice([word[:len(word) // 2], word[len(word) // 2:], word + word])
        else:                                               # another keyword's case
            other = rng.choice(KEYWORDS)
            word = rng.choice([other.lower(), other.upper(), other.capitalize()])
    return word


def identifier(rng):
    """One getUSBPort argument of a random shape."""
    shape = rng.randrange(12)
    if shape == 0:
        return ""
    if shape == 1:                                  # too short to hold both fields
        return random_text(rng, ASCII + LATIN1 + BMP_HIGH[:50], rng.randint(1, 5))
    if shape == 2:                                  # well formed, vendor 0000
        return ("0x" + random_text(rng, HEX, 4) + "0000"
                + random_text(rng, ASCII, rng.choice((0, 0, 1, 6))))
    if shape == 3:
        return random_text(rng, LATIN1, rng.randint(1, 40))
    if shape == 4:
        return random_text(rng, BMP_HIGH, rng.randint(1, 40))
    if shape == 5:
        return random_text(rng, ASTRAL, rng.randint(1, 20))
    if shape == 6:
        return random_text(rng, LATIN1 + BMP_HIGH + ASTRAL, rng.randint(1, 40))
    if shape == 7:                                  # what shells and quoting trip over
        return random_text(rng, SHELLISH + list("0xAB12"), rng.randint(1, 16))
    if shape == 8:
        return rng.choice([*KEYWORDS, "-h", "/?", "--", "-", "0", "\\\\.\\COM1"])
    if shape == 9:                                  # blanks only
        return random_text(rng, [" ", "\t", *UNICODE_SPACES], rng.randint(1, 4))
    if shape == 10:                                 # look-alike of a well-formed one
        text = list("0x" + random_text(rng, HEX, 4) + "0000")
        at = rng.randrange(2, 10)
        text[at] = rng.choice(lookalikes(text[at]))
        return "".join(text)
    # fields broken up by backslashes or line ends, which a key path must not
    # take apart
    return "0x" + random_text(rng, HEX + "\\\n\r", 8) + random_text(rng, ASCII, 3)


def port_argument(rng):
    """An "open" port argument that stands for no number, for 0, or for a
    port number no device has: negative, or a million and up, after the
    wrap modulo 2^32. Leading blanks of all kinds: skipped or not, the
    number either stands for no port or is one of those."""
    while True:
        lead = random_text(rng, [" ", "\t", "\n", "\r", "\v", "\f", *UNICODE_SPACES],
                           rng.choice((0, 0, 0, 1, 3)))
        sign = rng.choice(["", "", "+", "-", "--", "+-"])
        kind = rng.randrange(5)
        if kind == 0:       # not a number at all (digits of other scripts are none
                            # to "%d"; read as digits they would name no COM device)
            return lead + sign + rng.choice(["", "abc", "x1", "COM3", "0x", " ", "\u0661",
                                             "\uff11", "٣", "one", "."])
        if kind == 1:       # a zero, perhaps after the wrap
            digits = rng.choice(["0", "00000", "4294967296", "8589934592",
                                 "0" * rng.randint(2, 400)])
        elif kind == 2:     # huge: wraps modulo 2^32
            digits = str(rng.randrange(10 ** rng.randint(10, 60)))
        elif kind == 3:     # just around the 32-bit edges
            digits = str(rng.choice([2 ** 31 - 1, 2 ** 31, 2 ** 31 + 1, 2 ** 32 - 1,
                                     2 ** 32 + 2 ** 31, 2 ** 32 * 3 - 1]) + rng.randint(-3, 3))
        else:               # plainly out of range
            digits = str(rng.randint(10 ** 6, 10 ** 9))
        tail = rng.choice(["", "", "x", ".5", " 7", "e3"])
        value = None if sign in ("--", "+-") else scanned_port(sign, digits)
        if value is None or value == 0 or value < 0 or value >= 10 ** 6:
            return lead + sign + digits + tail


def scanned_port(sign, digits):
    """The 32-bit value "%d" leaves: optional sign, digits, wrap modulo 2^32."""
    magnitude = 0
    for digit in digits:
        magnitude = (magnitude * 10 + int(digit)) % 2 ** 32
    value = (-magnitude if sign == "-" else magnitude) % 2 ** 32
    return value - 2 ** 32 if value >= 2 ** 31 else value


def timeout_argument(rng):
    return rng.choice([str(rng.randint(-2 ** 31, 2 ** 31 - 1)), str(rng.randrange(10 ** 30)),
                       "-1", "", "abc", " 12", "+0", random_text(rng, BMP_HIGH, 3)])


def host_argument(rng):
    return rng.choice([ABSENT_HOST, "", " ", random_text(rng, LATIN1 + BMP_HIGH + ASTRAL, 12),
                       # running in every prefix: the port check still comes first
                       "services.exe", "winedevice.exe", "x" * 300])


# --- Running ----------------------------------------------------------------

def run_case(case):
    try:
        return run_program(*(arg.encode("utf-8") for arg in case.args),
                           timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        return None


def short(args, width=160):
    text = repr(args)
    return text if len(text) <= width else text[:width] + f"... ({len(args)} args)"


def check_storm(test, cases):
    """Runs the cases a few at a time and checks every one of them."""
    for case in cases:
        if command_line_units(case.args) > COMMAND_LINE_LIMIT:
            raise ValueError(f"{case.name}: command line over the limit")
    with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
        runs = list(pool.map(run_case, cases))
    for case, run in zip(cases, runs):
        with test.subTest(case.name, args=short(case.args)):
            test.assertIsNotNone(run, f"no end within {RUN_TIMEOUT} s")
            test.assertEqual(run.stderr, b"", run)
            test.assertEqual(run.returncode, case.returncode, run)
            if run.stdout != case.stdout:
                test.fail(f"stdout differs from byte {first_difference(run.stdout, case.stdout)}:"
                          f" got {len(run.stdout)} bytes, expected {len(case.stdout)}; {run}")


def first_difference(got, expected):
    for at, (a, b) in enumerate(zip(got, expected)):
        if a != b:
            return at
    return min(len(got), len(expected))


def rng_for(group):
    return random.Random(f"{SEED}/{group}")


def setUpModule():
    print(f"\nargument storm seed: {SEED}", file=sys.stderr)


class StormTest(unittest.TestCase):
    def test_near_miss_keywords_run_nothing(self):
        # Each keyword is followed by arguments that would make its command
        # visible: a "0" line, the identification, or exit code 2.
        rng = rng_for("near-miss")
        visible_args = {"getUSBPort": ["0x00010000"], "getPCIdentification": [],
                        "open": [ABSENT_HOST, "0"], "listUSBPorts": []}
        cases = []
        while len(cases) < 120:
            keyword = rng.choice(KEYWORDS)
            word = near_miss(rng, keyword)
            if word in KEYWORDS:
                continue
            extra = [identifier(rng) for _ in range(rng.choice((0, 0, 1, 3)))]
            cases.append(Case(f"near-miss {len(cases)}", [word, *visible_args[keyword], *extra],
                              0, b""))
        with Registry(keys=LISTED_DEVICE, serial=LISTED_SERIAL):
            check_storm(self, cases)

    def test_identifiers_of_every_shape_are_echoed(self):
        rng = rng_for("identifiers")
        cases = []
        for n in range(150):
            identifiers = [identifier(rng) for _ in range(rng.randint(1, 12))]
            cases.append(Case(f"identifiers {n}", ["getUSBPort", *identifiers], 0,
                              unknown_device_lines(identifiers)))
        check_storm(self, cases)

    def test_arguments_of_ten_thousand_characters(self):
        rng = rng_for("long")
        pools = {"ascii": ASCII, "latin1": LATIN1, "bmp": BMP_HIGH,
                 "mixed": LATIN1 + BMP_HIGH + ASTRAL}
        cases = []
        for name, pool in pools.items():
            long_ones = [random_text(rng, pool, 10_000) for _ in range(3)]
            # A well-formed head: the lookup itself must cope with what follows.
            long_ones[0] = "0x1234" + "0000" + long_ones[0][10:]
            while command_line_units(["getUSBPort", *long_ones]) > COMMAND_LINE_LIMIT:
                long_ones.pop()
            cases.append(Case(f"10,000 characters, {name}", ["getUSBPort", *long_ones], 0,
                              unknown_device_lines(long_ones)))
        # 10,000 characters outside the BMP are 20,000 UTF-16 units.
        astral = random_text(rng, ASTRAL, 10_000)
        cases.append(Case("10,000 characters, outside the BMP", ["getUSBPort", "", astral, ""],
                          0, unknown_device_lines(["", astral, ""])))
        for word in ("open" + random_text(rng, LATIN1, 10_000),
                     "getUSBPort" + random_text(rng, BMP_HIGH, 10_000),
                     random_text(rng, ASCII, 10_000) + "getPCIdentification"):
            cases.append(Case(f"10,000-character keyword {word[:4]!r}...", [word, "0x00020000"],
                              0, b""))
        # 5,000 sevens wrap to -1908874353 (5,000 nines would wrap to 1, a
        # real port): no COM device has that number.
        port = " " * 5_000 + "-" + "7" * 5_000
        self.assertLess(scanned_port("-", "7" * 5_000), 0)
        cases.append(Case("10,000-character host and port for open",
                          ["open", random_text(rng, BMP_HIGH, 10_000), port], 2, b""))
        check_storm(self, cases)

    def test_thousands_of_identifiers_up_to_the_command_line_limit(self):
        rng = rng_for("limit")
        cases = []

        # Distinct well-formed identifiers, each its own lookup.
        distinct = up_to_limit(f"0x{n:04X}0000#{n}" for n in range(10_000))
        cases.append(Case(f"{len(distinct)} distinct identifiers", ["getUSBPort", *distinct],
                          0, unknown_device_lines(distinct)))

        # An empty argument is two quotes on the command line: the most
        # arguments a command line can carry.
        empties = up_to_limit("" for _ in range(20_000))
        cases.append(Case(f"{len(empties)} identifiers, nearly all empty",
                          ["getUSBPort", *empties], 0, unknown_device_lines(empties)))

        for n in range(3):
            mixed = up_to_limit((identifier(rng) for _ in range(20_000)), pad_char="\u00e9")
            cases.append(Case(f"{len(mixed)} identifiers of every shape ({n})",
                              ["getUSBPort", *mixed], 0, unknown_device_lines(mixed)))
        for case in cases:
            self.assertEqual(command_line_units(case.args), COMMAND_LINE_LIMIT, case.name)
        check_storm(self, cases)

    def test_open_with_unusable_port_ends_at_once_with_2(self):
        rng = rng_for("open")
        cases = [Case("open alone", ["open"], 2, b""),
                 Case("open with host only", ["open", ABSENT_HOST], 2, b""),
                 Case("open with empty host and port", ["open", "", ""], 2, b"")]
        while len(cases) < 110:
            args = ["open", host_argument(rng), port_argument(rng)]
            args += [timeout_argument(rng) for _ in range(rng.choice((0, 0, 1, 3, 5, 7)))]
            cases.append(Case(f"open {len(cases)}", args, 2, b""))
        check_storm(self, cases)

    def test_identification_ignores_further_arguments(self):
        rng = rng_for("identification")
        alone = run_program("getPCIdentification")
        self.assertEqual((alone.returncode, alone.stderr), (0, b""), alone)
        cases = []
        for n in range(20):
            extra = [identifier(rng) for _ in range(rng.randint(1, 6))]
            if n % 4 == 0:
                extra.append(random_text(rng, LATIN1 + BMP_HIGH, 10_000))
            cases.append(Case(f"identification {n}", ["getPCIdentification", *extra], 0,
                              alone.stdout))
        check_storm(self, cases)

    def test_port_list_ignores_further_arguments(self):
        rng = rng_for("list")
        with Registry(keys=LISTED_DEVICE, serial=LISTED_SERIAL):
            cases = []
            for n in range(20):
                extra = [identifier(rng) for _ in range(rng.randint(1, 6))]
                if n % 4 == 0:
                    extra.append(random_text(rng, LATIN1 + BMP_HIGH, 10_000))
                cases.append(Case(f"list {n}", ["listUSBPorts", *extra], 0, LISTED_LINES))
            check_storm(self, cases)


if __name__ == "__main__":
    unittest.main()
