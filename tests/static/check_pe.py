"""Static checks of a built executable: check_pe.py x64|x32 EXE

A host starts the program on machines we do not control, so the file itself
must be right: the format of its word size, a console program, the
hardening flags, only system DLLs imported (the MinGW runtime linked in, so
there is nothing to ship beside it), a manifest that asks for no elevation,
and version information. Headers and imports come from MinGW's objdump; the
resources are read straight from the file's resource section.
"""

import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

ARCHES = {
    "x64": {"objdump": "x86_64-w64-mingw32-objdump", "magic": 0x20B,
            "dll": {0x20: "HIGH_ENTROPY_VA", 0x40: "DYNAMIC_BASE", 0x100: "NX_COMPAT",
                    0x8000: "TERMINAL_SERVER_AWARE"},
            "file": {}},
    "x32": {"objdump": "i686-w64-mingw32-objdump", "magic": 0x10B,
            "dll": {0x40: "DYNAMIC_BASE", 0x100: "NX_COMPAT", 0x8000: "TERMINAL_SERVER_AWARE"},
            "file": {0x20: "LARGE_ADDRESS_AWARE"}},
}
MAGIC_NAMES = {0x10B: "PE32", 0x20B: "PE32+"}
SUBSYSTEM_CONSOLE = 3
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
RUNTIME_DLL = re.compile(r"libstdc\+\+|libgcc|libwinpthread|libssp", re.IGNORECASE)
RT_VERSION, RT_MANIFEST = 16, 24
PROCESS_MANIFEST_ID = 1   # the loader reads an executable's manifest from ID 1 only
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD


def header_field(dump, name):
    match = re.search(rf"^{name}\s+(?:0x)?([0-9a-fA-F]+)\b", dump, re.MULTILINE)
    if match is None:
        sys.exit(f"check_pe: objdump printed no {name}")
    return int(match.group(1), 16)


def resources(image):
    """{(type id, name id): data} of the resource section; named entries,
    which this program does not use, are left out."""
    (pe,) = struct.unpack_from("<I", image, 0x3C)
    if image[pe:pe + 4] != b"PE\0\0":
        sys.exit("check_pe: not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    (magic,) = struct.unpack_from("<H", image, optional)
    directories = optional + (96 if magic == 0x10B else 112)
    root_rva, _ = struct.unpack_from("<II", image, directories + 2 * 8)
    table = [struct.unpack_from("<8xIIII", image, optional + optional_size + 40 * i)
             for i in range(sections)]

    def offset(rva):
        for virtual_size, address, raw_size, raw_pointer in table:
            if address <= rva < address + max(virtual_size, raw_size):
                return rva - address + raw_pointer
        sys.exit(f"check_pe: RVA {rva:#x} lies in no section")

    if root_rva == 0:
        return {}
    root = offset(root_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", image, root + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", image, root + directory + 16 + 8 * i)
            if not name & 0x80000000:
                yield name, target

    found = {}
    for type_id, names in entries(0):
        for name_id, languages in entries(names & 0x7FFFFFFF):
            for _, leaf in entries(languages & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", image, root + leaf)
                found[(type_id, name_id)] = image[offset(rva):offset(rva) + size]
    return found


def manifest_problems(manifest):
    try:
        tree = ElementTree.fromstring(manifest)
    except ElementTree.ParseError as error:
        return [f"the manifest is not well-formed XML: {error}"]
    levels = [e for e in tree.iter() if e.tag.rpartition("}")[2] == "requestedExecutionLevel"]
    if len(levels) != 1:
        return [f"the manifest has {len(levels)} requestedExecutionLevel elements, not one"]
    level, ui_access = levels[0].get("level"), levels[0].get("uiAccess")
    if (level, ui_access) != ("asInvoker", "false"):
        return [f'the manifest requests level="{level}" uiAccess="{ui_access}",'
                ' not level="asInvoker" uiAccess="false"']
    return []


def version_problems(version):
    # VS_VERSIONINFO: three WORDs, the key "VS_VERSION_INFO" with its
    # terminator, padding to a DWORD, then VS_FIXEDFILEINFO.
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    if version[6:6 + len(key)] != key:
        return ["the version resource is not a VS_VERSIONINFO block"]
    signature_at = (6 + len(key) + 3) & ~3
    if version[signature_at:signature_at + 4] != struct.pack("<I", VS_FIXEDFILEINFO_SIGNATURE):
        return ["the version resource has no VS_FIXEDFILEINFO"]
    return []


def check(arch, exe):
    wanted = ARCHES[arch]
    if not os.path.isfile(exe):
        sys.exit(f"check_pe: {exe}: no such file (is the {arch} preset built?)")
    try:
        dump = subprocess.run([wanted["objdump"], "-p", exe], capture_output=True,
                              text=True, check=True).stdout
    except OSError as error:
        sys.exit(f"check_pe: cannot run {wanted['objdump']}: {error}")
    except subprocess.CalledProcessError as error:
        sys.exit(f"check_pe: {wanted['objdump']} -p {exe} failed: {error.stderr.strip()}")

    problems = []
    magic = header_field(dump, "Magic")
    if magic != wanted["magic"]:
        problems.append(f"Magic is {magic:#x} ({MAGIC_NAMES.get(magic, '?')}),"
                        f" not {MAGIC_NAMES[wanted['magic']]}")
    subsystem = header_field(dump, "Subsystem")
    if subsystem != SUBSYSTEM_CONSOLE:
        problems.append(f"Subsystem is {subsystem}, not {SUBSYSTEM_CONSOLE} (Windows CUI)")
    dll_characteristics = header_field(dump, "DllCharacteristics")
    for flag, name in wanted["dll"].items():
        if not dll_characteristics & flag:
            problems.append(f"DllCharacteristics {dll_characteristics:#06x} lacks {name} ({flag:#x})")
    file_characteristics = header_field(dump, "Characteristics")
    for flag, name in wanted["file"].items():
        if not file_characteristics & flag:
            problems.append(f"Characteristics {file_characteristics:#06x} lacks {name} ({flag:#x})")

    imports = re.findall(r"^\s*DLL Name:\s*(\S+)", dump, re.MULTILINE)
    if not imports:
        problems.append("no imported DLL found in objdump's output")
    for dll in imports:
        if RUNTIME_DLL.search(dll):
            problems.append(f"imports {dll}: the MinGW runtime must be linked statically")
        elif dll.lower() not in SYSTEM_DLLS:
            problems.append(f"imports {dll}, which is not one of {sorted(SYSTEM_DLLS)}")

    with open(exe, "rb") as handle:
        found = resources(handle.read())
    manifest = found.get((RT_MANIFEST, PROCESS_MANIFEST_ID))
    if manifest is None:
        problems.append(f"no manifest resource (type {RT_MANIFEST}, ID {PROCESS_MANIFEST_ID})")
    else:
        problems += manifest_problems(manifest)
    versions = [data for (kind, _), data in found.items() if kind == RT_VERSION]
    if not versions:
        problems.append(f"no version resource (type {RT_VERSION})")
    for version in versions:
        problems += version_problems(version)

    if problems:
        for problem in problems:
            print(f"check_pe: {exe}: {problem}", file=sys.stderr)
        sys.exit(1)
    flags = " ".join(name for flag, name in sorted(ARCHES["x64"]["dll"].items())
                     if dll_characteristics & flag)
    print(f"{exe}: {MAGIC_NAMES[magic]}, {os.path.getsize(exe)} bytes, console,"
          f" DllCharacteristics {dll_characteristics:#06x} ({flags}),"
          f" imports {', '.join(imports)}, resources: manifest asInvoker, version")


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ARCHES:
        sys.exit("usage: check_pe.py x64|x32 EXE")
    check(sys.argv[1], sys.argv[2])
