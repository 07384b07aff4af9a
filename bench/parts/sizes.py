"""The executables' sizes, against an empty program built the same way."""

import pathlib
import struct
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))  # bench/, when run alone
from common import EMPTY_EXE, EXE_X32, EXE_X64, log  # noqa: E402

NAME = "sizes"
TITLE = "executable sizes"


def pe_facts(path):
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    symbols, count = struct.unpack_from("<II", data, pe + 4 + 8)
    return {"bytes": len(data), "stripped": symbols == 0 and count == 0}


def run(quick=False):
    log("Executable sizes")
    files = {}
    for name, path in (("corvel_x64.exe", EXE_X64), ("corvel_x32.exe", EXE_X32),
                       ("empty program (x64)", EMPTY_EXE)):
        files[name] = pe_facts(path)
        log(f"   {name:<20} {files[name]['bytes']} bytes"
            f"{'' if files[name]['stripped'] else ' (has a symbol table)'}")
    return {"files": files}


if __name__ == "__main__":
    from run import run_parts
    run_parts([NAME])
