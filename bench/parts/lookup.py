"""getUSBPort over a large USB tree against an empty program, the registry
calls it makes per instance count, and listUSBPorts's time on the same tree."""

import pathlib
import random
import re
import statistics
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))  # bench/, when run alone
from common import EMPTY_EXE, EXE_X64, log, winebed  # noqa: E402

NAME = "lookup"
TITLE = "getUSBPort and listUSBPorts over a large USB tree"

VENDOR = "1209"
INSTANCE_COUNTS = [1, 2, 5, 10, 20, 50]
TIMED_INSTANCES = 50

# Registry calls of one getUSBPort as this part measured them at commit
# 2d3e72b, when the lookup read the serial-port map again for every instance
# it found. Kept to show the change against; no run measures them again.
CALLS_BEFORE = {"commit": "2d3e72b", "date": "2026-12-10 02:42 UTC",
                "calls": [{"instances": n, "registry_calls": c} for n, c in
                          ((1, 18), (2, 34), (5, 88), (10, 198), (20, 493), (50, 1978))]}
# The same count before getUSBPort looked for composite devices' function
# keys (recorded at commit 2f9fc06, 2026-12-10 15:37 UTC): the walk of the
# tree that finds them is what the count has grown by since.
CALLS_BEFORE_FUNCTION_KEYS = {"commit": "2f9fc06", "instances": 50, "registry_calls": 557}
# The target: the map is read once per call, so an added instance costs only
# the walk through its own two keys (the instance and its Device Parameters:
# open, size, enumerate, close, 10 calls at the least) and its port's look in
# the map.
MAX_CALLS_PER_ADDED_INSTANCE = 12
# getUSBPort's time over the empty program's, in one run: 2.3 to 2.5 before it
# also searched composite devices' function keys; 1.25 x that at the most.
MAX_RATIO = 3.1


def product_for(instances):
    return f"B{instances:03d}"


def identifier_for(instances):
    return "0x" + product_for(instances) + VENDOR


# One in COMPOSITE_EVERY of the other devices is composite (a keyboard with a
# media-key function, say): its own key and two function keys beside it, so
# the tree holds function keys of other devices that the lookup must pass over.
COMPOSITE_EVERY = 10
COMPOSITE_FUNCTIONS = ("00", "01")


def other_devices(count):
    """USB devices that are no serial ports of ours: mice, hubs, disks,
    composite keyboards..."""
    rng = random.Random(5)
    keys, seen = {}, set()
    while len(seen) < count:
        vendor, product = rng.randrange(0x10000), rng.randrange(0x10000)
        if (vendor, product) in seen or f"{vendor:04X}" == VENDOR:
            continue
        seen.add((vendor, product))
        device = f"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_{vendor:04X}&PID_{product:04X}"
        instance = f"{rng.randrange(1 << 28):07x}&0&{rng.randrange(1, 9)}"
        if len(seen) % COMPOSITE_EVERY == 0:
            keys[f"{device}\\{instance}"] = {"DeviceDesc": "USB Composite Device",
                                              "Service": "usbccgp"}
            for interface in COMPOSITE_FUNCTIONS:
                base = f"{device}&MI_{interface}\\{rng.randrange(1 << 28):07x}&0&00{interface}"
                keys[base] = {"DeviceDesc": "USB Input Device", "Service": "HidUsb"}
                keys[base + "\\Device Parameters"] = {"SelectiveSuspendEnabled": "1"}
            continue
        base = f"{device}\\{instance}"
        keys[base] = {"DeviceDesc": "USB Input Device", "Service": "HidUsb"}
        keys[base + "\\Device Parameters"] = {"SelectiveSuspendEnabled": "1"}
    return keys


def tree_key_count(keys):
    """The sub-keys of the USB tree itself: device keys and function keys."""
    prefix = "SYSTEM\\CurrentControlSet\\Enum\\USB\\"
    return len({path[len(prefix):].split("\\")[0] for path in keys if path.startswith(prefix)})


def serial_device(instances, first_index):
    """A device with `instances` instance keys, each present in the serial
    map as its own port. Returns the Registry fixture and the ports."""
    keys, serial, ports = {}, {}, []
    for i in range(instances):
        index = first_index + i
        port = 300 + index
        keys.update(winebed.usb_instance(VENDOR, product_for(instances),
                                         f"{0x5A0000 + index:X}&0&{i + 1}", f"COM{port}"))
        serial[f"\\Device\\USBSER{index:03d}"] = f"COM{port}"
        ports.append(port)
    return winebed.Registry(keys, serial), ports


def timed_run(argv):
    started = time.perf_counter()
    done = subprocess.run([winebed.WINE64, *argv], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          env=winebed.wine_env(winebed.prefix_path()), timeout=60)
    return time.perf_counter() - started, done


# --- Registry calls, from Wine's relay trace --------------------------------

def image_range(trace, exe):
    """Where the trace says the executable was loaded, and its image size."""
    match = re.search(r'Loaded L"[^"]*' + re.escape(exe.name) + r'" at ([0-9A-Fa-f]+)', trace)
    base = int(match.group(1), 16)
    data = exe.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    size_of_image = struct.unpack_from("<I", data, pe + 24 + 56)[0]
    return base, base + size_of_image


REG_CALL = re.compile(r"^[0-9a-f]+:Call (advapi32|kernelbase|kernel32)\.(Reg\w+)\((.*)\) ret=([0-9a-f]+)$",
                      re.IGNORECASE)
# The relay shows the path argument as a wide string, its backslashes doubled.
TREE_PATH_ARGUMENT = 'L"SYSTEM\\\\CurrentControlSet\\\\Enum\\\\USB"'


def function_key_calls(calls):
    """The calls that find the function keys: opening the USB tree and every
    call on its handle (its key count; then either one RegEnumKeyW per key of
    the tree or one RegOpenKeyExW per name a function key of the device can
    have; the close). The handle is the first argument of the first call after
    the open."""
    walk, handle = 0, None
    for i, (name, arguments) in enumerate(calls):
        if handle is None:
            if name == "RegOpenKeyExW" and TREE_PATH_ARGUMENT in arguments and i + 1 < len(calls):
                walk += 1
                handle = calls[i + 1][1].split(",")[0]
            continue
        if arguments.split(",")[0] == handle:
            walk += 1
            if name == "RegCloseKey":
                break
    return walk


def count_registry_calls(identifier):
    """Reg* calls the executable itself makes in one lookup, from Wine's relay
    trace ("Call" lines, whose return address lies inside the executable)."""
    env = winebed.wine_env(winebed.prefix_path())
    env["WINEDEBUG"] = "+relay,+loaddll"
    with tempfile.TemporaryFile() as trace_file:
        done = subprocess.run([winebed.WINE64, str(EXE_X64), "getUSBPort", identifier],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=trace_file, env=env, timeout=120)
        trace_file.seek(0)
        trace = trace_file.read().decode("utf-8", "replace")
    low, high = image_range(trace, EXE_X64)
    by_function, calls = {}, []
    for line in trace.splitlines():
        match = REG_CALL.match(line)
        if match and low <= int(match.group(4), 16) < high:
            name = match.group(2)
            by_function[name] = by_function.get(name, 0) + 1
            calls.append((name, match.group(3)))
    return {"registry_calls": sum(by_function.values()), "by_function": by_function,
            "function_key_calls": function_key_calls(calls),
            "answer_lines": done.stdout.count(b"\n")}


def call_growth(calls):
    """The most calls one added instance costs between two measured counts."""
    return max((b["registry_calls"] - a["registry_calls"]) / (b["instances"] - a["instances"])
               for a, b in zip(calls, calls[1:]))


# --- Wall times --------------------------------------------------------------

def timed_programs(identifier):
    """The lookup and the empty program are the figure; corvel with no
    arguments (it ends at once) and a lookup of an absent device split the
    difference into loading corvel and looking up; listUSBPorts walks the
    same tree for every device."""
    return [("lookup", [str(EXE_X64), "getUSBPort", identifier]),
            ("empty", [str(EMPTY_EXE)]),
            ("corvel_no_arguments", [str(EXE_X64)]),
            ("lookup_absent_device", [str(EXE_X64), "getUSBPort", "0x00000000"]),
            ("list", [str(EXE_X64), "listUSBPorts"])]


def time_programs(programs, runs, expected):
    """Wall times of each program, rotated; the answers of those that have an
    expected one (sorted lines: the order of a listing is not the figure)."""
    for _ in range(2):  # warm-up: page cache, wineserver
        for _, argv in programs:
            timed_run(argv)
    samples = {name: [] for name, _ in programs}
    codes = {name: {} for name, _ in programs}
    answers = {name: set() for name in expected}
    line_counts = {name: set() for name in expected}
    for i in range(runs):
        # Rotated, so that no program always follows the same one.
        shift = i % len(programs)
        for name, argv in programs[shift:] + programs[:shift]:
            seconds, done = timed_run(argv)
            samples[name].append(seconds * 1000.0)
            code = str(done.returncode)
            codes[name][code] = codes[name].get(code, 0) + 1
            if name in expected:
                lines = sorted(done.stdout.decode("latin-1").splitlines(keepends=True))
                answers[name].add(lines == expected[name])
                line_counts[name].add(len(lines))
    out = {}
    for name, values in samples.items():
        out[name + "_ms"] = {"median": statistics.median(values), "samples": values,
                             "exit_codes": codes[name]}
    for name, seen in answers.items():
        out[name + "_answer_correct"] = seen == {True}
        out[name + "_answer_lines"] = sorted(line_counts[name])
    return out


def run(quick=False):
    runs = 5 if quick else 30
    others = 100 if quick else 1000
    log(f"getUSBPort: {others} other USB devices ({others // COMPOSITE_EVERY} of them composite), "
        f"one with {TIMED_INSTANCES} instances; "
        f"{runs} runs each, interleaved with an empty program and listUSBPorts")
    out = {"runs": runs, "other_devices": others, "timed_instances": TIMED_INSTANCES,
           "identifier": identifier_for(TIMED_INSTANCES), "calls": [],
           "calls_before": CALLS_BEFORE,
           "max_calls_per_added_instance": MAX_CALLS_PER_ADDED_INSTANCE, "max_ratio": MAX_RATIO,
           "calls_before_function_keys": CALLS_BEFORE_FUNCTION_KEYS}
    started = time.monotonic()
    others_keys = other_devices(others)
    out["composite_other_devices"] = others // COMPOSITE_EVERY
    # The looked-up device's key, added below, is one more.
    out["tree_keys"] = tree_key_count(others_keys) + 1
    with winebed.Registry(others_keys):
        out["registry_setup_s"] = time.monotonic() - started
        fixture, ports = serial_device(TIMED_INSTANCES, 0)
        with fixture:
            lines = sorted(f"{out['identifier']} {port}\n" for port in ports)
            out.update(time_programs(timed_programs(out["identifier"]), runs,
                                     {"lookup": lines, "list": lines}))
            timed_calls = count_registry_calls(out["identifier"])
        for instances in INSTANCE_COUNTS:
            if instances == TIMED_INSTANCES:
                counted = timed_calls
            else:
                fixture, _ = serial_device(instances, 100)
                with fixture:
                    counted = count_registry_calls(identifier_for(instances))
            out["calls"].append({"instances": instances, **counted})
            log(f"   {instances:>2} instance(s): {counted['registry_calls']} registry calls "
                f"({', '.join(f'{k} {v}' for k, v in sorted(counted['by_function'].items()))}); "
                f"{counted['function_key_calls']} of them find the function keys")
    out["ratio"] = out["lookup_ms"]["median"] / out["empty_ms"]["median"]
    out["list_ratio_to_lookup"] = out["list_ms"]["median"] / out["lookup_ms"]["median"]
    out["most_calls_per_added_instance"] = call_growth(out["calls"])
    # The same whatever the instance count: the tree is walked or the names
    # tried, depending on its size.
    out["function_key_calls"] = timed_calls["function_key_calls"]
    log(f"   finding the function keys: {out['function_key_calls']} registry calls "
        f"over a tree of {out['tree_keys']} keys")
    out["most_calls_per_added_instance_before"] = call_growth(CALLS_BEFORE["calls"])
    log(f"   lookup median {out['lookup_ms']['median']:.1f} ms, empty program "
        f"{out['empty_ms']['median']:.1f} ms, ratio {out['ratio']:.3f}; "
        f"answer {'correct' if out['lookup_answer_correct'] else 'WRONG'}")
    log(f"   corvel with no arguments {out['corvel_no_arguments_ms']['median']:.1f} ms, "
        f"lookup of an absent device {out['lookup_absent_device_ms']['median']:.1f} ms")
    log(f"   listUSBPorts median {out['list_ms']['median']:.1f} ms, exit codes "
        f"{out['list_ms']['exit_codes']}, answer "
        f"{'correct' if out['list_answer_correct'] else 'WRONG'}")
    return out


if __name__ == "__main__":
    from run import run_parts
    run_parts([NAME])
