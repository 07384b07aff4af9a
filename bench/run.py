#!/usr/bin/env python3
"""corvel's benchmarks: what the bridge and the lookup cost, measured side by
side with a reference in the same run, under Wine, on a pty as the device.

  1. bridge throughput, each direction alone and both at once (vs socat)
  2. one-byte latency, device->host and host->device (vs socat and the
     bound the pump design gives)
  3. idle CPU of a quiet bridge and of one whose stdin has ended
  4. how soon the bridge ends after its host has died
  5. getUSBPort over a large USB tree (vs an empty program) and the number
     of registry calls it makes
  6. executable sizes

Nothing here asserts: every figure is printed, and written to
bench/RESULTS.md, bench/results.json and bench/latency.png.

Run through scripts/bench.sh, which builds what is needed first. --quick runs
every benchmark with small sizes (a smoke run of the harness itself).
"""

import argparse
import datetime
import hashlib
import json
import os
import pathlib
import platform
import random
import re
import select
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
BENCH = ROOT / "bench"
sys.path.insert(0, str(ROOT / "tests" / "wine"))
import winebed  # noqa: E402

EXE_X64 = ROOT / "build" / "x64" / "corvel_x64.exe"
EXE_X32 = ROOT / "build" / "x32" / "corvel_x32.exe"
TEST_HOST = ROOT / "build" / "x64" / "tests" / "corvel_test_host.exe"
EMPTY_EXE = ROOT / "build" / "bench" / "empty_x64.exe"

MIB = 1 << 20
# Wine's clocks advance in steps of about this much; a sleep or a time-out
# can end up to one step late.
WINE_CLOCK_STEP_MS = 16.0
PUMP_PAUSE_MS = 10.0
# Port numbers of the bench's own devices: far from those tests use.
PORT_THROUGHPUT, PORT_LATENCY, PORT_IDLE, PORT_END = 231, 232, 233, 234

# Time-out sets for the latency runs: the arguments after the port number,
# and the read time-out they give (ReadTotalTimeoutConstant; the interval and
# multiplier add nothing to a lone byte's wait).
TIMEOUT_SETS = [
    ("defaults", (), 10.0),
    ("-1 0 0", ("-1", "0", "0"), 0.0),
    ("0 1 0", ("0", "1", "0"), 1.0),
]


def log(text):
    print(text, flush=True)


def percentile(values, fraction):
    """Nearest-rank percentile."""
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    rank = max(1, min(len(ordered), int(-(-fraction * len(ordered) // 1))))
    return ordered[rank - 1]


# --- The two relays: corvel under Wine and socat natively -------------------

class Relay:
    """A program that joins its stdin/stdout to the pty's slave, driven
    through raw file descriptors."""

    def __init__(self, process, name):
        self.process = process
        self.name = name
        self.stdin = process.stdin.fileno()
        self.stdout = process.stdout.fileno()

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            if stream is not None:
                try:
                    stream.close()
                except OSError:
                    pass


def start_corvel(host_name, port, *timeouts):
    return Relay(winebed.start_program("open", host_name, str(port.number), *timeouts),
                 "corvel")


def start_socat(port):
    process = subprocess.Popen(
        ["socat", "-b", "4096", "STDIO", f"{os.ttyname(port.slave)},raw,echo=0"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return Relay(process, "socat")


def read_master(port, wait):
    ready, _, _ = select.select([port.master], [], [], wait)
    if not ready:
        return b""
    try:
        return os.read(port.master, 1 << 20)
    except (BlockingIOError, OSError):
        return b""


def settle(relay, port):
    """Waits until the relay has the port open (a probe byte comes through),
    then lets late probes drain so that the line starts quiet."""
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        os.write(relay.stdin, b"\x00")
        got = b""
        until = time.monotonic() + 0.5
        while not got and time.monotonic() < until:
            got = read_master(port, 0.1)
        if got:
            while read_master(port, 0.3):
                pass
            return
    raise RuntimeError(f"{relay.name} never opened its port")


# --- 1. Throughput ----------------------------------------------------------

def transfer(relay, port, up, down, limit=180.0):
    """Moves `up` from the relay's stdin to the device and `down` from the
    device to its stdout, at the same time when both are given. Returns per
    direction: bytes, seconds until the last byte arrived, sha256 match."""
    results = {}
    started = time.perf_counter()
    deadline = time.monotonic() + limit
    up_hash, down_hash = hashlib.sha256(), hashlib.sha256()
    counts = {"up": 0, "down": 0}
    ends = {}

    def host_writer():
        view = memoryview(up)
        try:
            for offset in range(0, len(view), MIB):
                chunk = view[offset:offset + MIB]
                while chunk:
                    chunk = chunk[os.write(relay.stdin, chunk):]
        except OSError:
            pass

    def host_reader():
        while counts["down"] < len(down) and time.monotonic() < deadline:
            ready, _, _ = select.select([relay.stdout], [], [], 0.5)
            if not ready:
                continue
            chunk = os.read(relay.stdout, 4 * MIB)
            if not chunk:
                break
            down_hash.update(chunk)
            counts["down"] += len(chunk)
        ends["down"] = time.perf_counter()

    def device():
        view = memoryview(down)
        sent = 0
        while time.monotonic() < deadline:
            want_read = counts["up"] < len(up)
            want_write = sent < len(down)
            if not want_read and not want_write:
                break
            readable, writable, _ = select.select([port.master] if want_read else [],
                                                  [port.master] if want_write else [],
                                                  [], 0.5)
            if writable:
                try:
                    sent += os.write(port.master, view[sent:sent + 65536])
                except BlockingIOError:
                    pass
            if readable:
                try:
                    chunk = os.read(port.master, MIB)
                except (BlockingIOError, OSError):
                    chunk = b""
                up_hash.update(chunk)
                counts["up"] += len(chunk)
                if counts["up"] >= len(up):
                    ends["up"] = time.perf_counter()

    threads = [threading.Thread(target=device, daemon=True)]
    if up:
        threads.append(threading.Thread(target=host_writer, daemon=True))
    if down:
        threads.append(threading.Thread(target=host_reader, daemon=True))
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(limit + 5)
    for name, data, digest in (("up", up, up_hash), ("down", down, down_hash)):
        if data:
            seconds = ends.get(name, time.perf_counter()) - started
            results[name] = {
                "bytes": counts[name],
                "expected": len(data),
                "seconds": seconds,
                "mib_per_s": counts[name] / MIB / seconds,
                "sha256_ok": counts[name] == len(data)
                and digest.hexdigest() == hashlib.sha256(data).hexdigest(),
            }
    return results


def bench_throughput(size, repeats=2):
    log(f"1. Throughput: {size // MIB} MiB per direction, corvel vs socat, best of {repeats}")
    up = random.Random(1).randbytes(size)
    down = random.Random(2).randbytes(size)
    out = {"bytes_per_direction": size, "repeats": repeats, "sha256_up": hashlib.sha256(up).hexdigest(),
           "sha256_down": hashlib.sha256(down).hexdigest(), "runs": {}}
    modes = [("stdin->port", up, b""), ("port->stdout", b"", down), ("both at once", up, down)]
    with winebed.PtyPort(PORT_THROUGHPUT) as port, winebed.HostProcess() as host:
        for mode, send_up, send_down in modes:
            # Alternated, and the best run of each kept: others' work on the
            # same cores only ever slows a run down.
            for name in ("corvel", "socat") * repeats:
                relay = start_corvel(host.name, port) if name == "corvel" else start_socat(port)
                try:
                    settle(relay, port)
                    result = transfer(relay, port, send_up, send_down)
                finally:
                    relay.close()
                while read_master(port, 0.2):
                    pass
                runs = out["runs"].setdefault(mode, {})
                slowest = max(r["seconds"] for r in result.values())
                all_runs = out.setdefault("all_runs", {}).setdefault(mode, {}).setdefault(name, [])
                all_runs.append(result)
                if name not in runs or slowest < max(r["seconds"] for r in runs[name].values()):
                    runs[name] = result
                log("   %-13s %-6s %s" % (mode, name, ", ".join(
                    f"{d}: {r['mib_per_s']:.1f} MiB/s in {r['seconds']:.2f} s"
                    f"{'' if r['sha256_ok'] else ' (CONTENT MISMATCH)'}"
                    for d, r in result.items())))
    return out


# --- 2. Latency -------------------------------------------------------------

def ping(relay, port, direction, rounds, rng):
    """One byte at a time, after a random pause (so that bytes meet the pumps
    at every point of their cycle); returns the delays in ms."""
    delays, lost = [], 0
    source, sink = ((port.master, relay.stdout) if direction == "device->host"
                    else (relay.stdin, port.master))
    for _ in range(rounds):
        time.sleep(rng.uniform(0.0, 0.02))
        sent = time.perf_counter()
        os.write(source, b"\x55")
        ready, _, _ = select.select([sink], [], [], 2.0)
        arrived = time.perf_counter()
        if not ready:
            lost += 1
            continue
        got = os.read(sink, 64)
        delays.append((arrived - sent) * 1000.0)
        if got != b"\x55":
            lost += 1
    return delays, lost


def summary_ms(delays):
    return {"p50": percentile(delays, 0.50), "p99": percentile(delays, 0.99),
            "max": max(delays) if delays else float("nan"),
            "mean": statistics.fmean(delays) if delays else float("nan"),
            "count": len(delays)}


def bench_latency(rounds):
    log(f"2. Latency: 1-byte ping, {rounds} rounds per direction and set")
    rng = random.Random(3)
    out = {"rounds": rounds, "cases": []}
    with winebed.PtyPort(PORT_LATENCY) as port, winebed.HostProcess() as host:
        cases = [("corvel " + label, label, args, read_ms) for label, args, read_ms in TIMEOUT_SETS]
        cases.append(("socat", None, None, None))
        for case, label, args, read_ms in cases:
            relay = start_socat(port) if label is None else start_corvel(host.name, port, *args)
            try:
                settle(relay, port)
                for direction in ("device->host", "host->device"):
                    delays, lost = ping(relay, port, direction, rounds, rng)
                    entry = {"case": case, "timeouts": label, "direction": direction,
                             "read_timeout_ms": read_ms, "lost": lost,
                             **summary_ms(delays), "samples_ms": delays}
                    if read_ms is not None:
                        entry["bound_ms"] = read_ms + PUMP_PAUSE_MS + WINE_CLOCK_STEP_MS
                    out["cases"].append(entry)
                    log(f"   {case:<16} {direction:<13} p50 {entry['p50']:6.2f}  "
                        f"p99 {entry['p99']:6.2f}  max {entry['max']:6.2f} ms"
                        + (f"  ({lost} lost)" if lost else ""))
            finally:
                relay.close()
            while read_master(port, 0.2):
                pass
    return out


# --- 3. Idle CPU ------------------------------------------------------------

TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """utime + stime of a process, all its threads, in seconds."""
    with open(f"/proc/{pid}/stat") as handle:
        fields = handle.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def wineserver_pid(prefix):
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if not (entry / "comm").read_text().startswith("wineserver"):
                continue
            environ = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if f"WINEPREFIX={prefix}".encode() in environ:
            return int(entry.name)
    return None


def cpu_share(pids, seconds):
    """CPU seconds per wall second of each pid over a window of `seconds`."""
    before = {pid: cpu_seconds(pid) for pid in pids}
    started = time.perf_counter()
    time.sleep(seconds)
    wall = time.perf_counter() - started
    return {pid: (cpu_seconds(pid) - before[pid]) / wall for pid in pids}, wall


def bench_idle(window, baseline_window):
    log(f"3. Idle CPU over {window:.0f} s windows")
    server = wineserver_pid(winebed.prefix_path())
    out = {"window_s": window, "wineserver_pid": server, "cases": {}}
    with winebed.PtyPort(PORT_IDLE) as port, winebed.HostProcess() as host:
        shares, wall = cpu_share([server], baseline_window)
        out["wineserver_baseline"] = shares[server]
        log(f"   wineserver with no bridge running: {shares[server] * 100:.3f} % of a core")
        for case, timeouts in (("host alive, lines quiet", ()),
                               ("stdin at end of input", ()),
                               ("lines quiet, time-outs 0 200 0", ("0", "200", "0"))):
            relay = start_corvel(host.name, port, *timeouts)
            try:
                settle(relay, port)
                if case == "stdin at end of input":
                    relay.process.stdin.close()
                time.sleep(1.0)
                pid = relay.process.pid
                exe = os.readlink(f"/proc/{pid}/exe")
                cmdline = pathlib.Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")[0]
                shares, wall = cpu_share([pid, server, host.process.pid], window)
                attributable = max(0.0, shares[server] - out["wineserver_baseline"])
                out["cases"][case] = {
                    "timeouts": " ".join(timeouts) or "defaults",
                    "process": shares[pid], "wineserver": shares[server],
                    "wineserver_attributable": attributable,
                    "total": shares[pid] + attributable,
                    "idle_wine_process": shares[host.process.pid],
                    "wall_s": wall, "linux_exe": exe, "linux_cmdline0": cmdline.decode(),
                }
                log(f"   {case:<30} process {shares[pid] * 100:.3f} %, wineserver "
                    f"{shares[server] * 100:.3f} % (baseline {out['wineserver_baseline'] * 100:.3f} %), "
                    f"idle host {shares[host.process.pid] * 100:.3f} %")
            finally:
                relay.close()
    return out


# --- 4. End after the host ends ---------------------------------------------

def bench_end(trials):
    log(f"4. End after the host dies: {trials} trials")
    rng = random.Random(4)
    delays, codes = [], []
    with winebed.PtyPort(PORT_END) as port:
        for _ in range(trials):
            with winebed.HostProcess() as host:
                relay = start_corvel(host.name, port)
                try:
                    settle(relay, port)
                    # Kill at a random point of the watcher's 500 ms cycle.
                    time.sleep(rng.uniform(0.0, 0.5))
                    pidfd = os.pidfd_open(relay.process.pid)
                    host.process.kill()
                    host.process.wait()
                    died = time.perf_counter()
                    ready, _, _ = select.select([pidfd], [], [], 10.0)
                    ended = time.perf_counter()
                    os.close(pidfd)
                    if ready:
                        delays.append((ended - died) * 1000.0)
                        codes.append(relay.process.wait())
                    else:
                        codes.append(None)
                finally:
                    relay.close()
                while read_master(port, 0.05):
                    pass
    out = {"trials": trials, **summary_ms(delays), "samples_ms": delays,
           "exit_codes": sorted(set(codes), key=str),
           "not_ended_within_10_s": codes.count(None)}
    log(f"   p50 {out['p50']:.0f}  p99 {out['p99']:.0f}  max {out['max']:.0f} ms, "
        f"exit codes {out['exit_codes']}")
    return out


# --- 5. getUSBPort ----------------------------------------------------------

VENDOR = "1209"
INSTANCE_COUNTS = [1, 2, 5, 10, 20, 50]


def product_for(instances):
    return f"B{instances:03d}"


def identifier_for(instances):
    return "0x" + product_for(instances) + VENDOR


def other_devices(count):
    """USB devices that are no serial ports of ours: mice, hubs, disks..."""
    rng = random.Random(5)
    keys, seen = {}, set()
    while len(seen) < count:
        vendor, product = rng.randrange(0x10000), rng.randrange(0x10000)
        if (vendor, product) in seen or f"{vendor:04X}" == VENDOR:
            continue
        seen.add((vendor, product))
        base = (f"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_{vendor:04X}&PID_{product:04X}"
                f"\\{rng.randrange(1 << 28):07x}&0&{rng.randrange(1, 9)}")
        keys[base] = {"DeviceDesc": "USB Input Device", "Service": "HidUsb"}
        keys[base + "\\Device Parameters"] = {"SelectiveSuspendEnabled": "1"}
    return keys


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


def image_range(trace, exe):
    """Where the trace says the executable was loaded, and its image size."""
    match = re.search(r'Loaded L"[^"]*' + re.escape(exe.name) + r'" at ([0-9A-Fa-f]+)', trace)
    base = int(match.group(1), 16)
    data = exe.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    size_of_image = struct.unpack_from("<I", data, pe + 24 + 56)[0]
    return base, base + size_of_image


REG_CALL = re.compile(r"^[0-9a-f]+:Call (advapi32|kernelbase|kernel32)\.(Reg\w+)\(.*\) ret=([0-9a-f]+)$",
                      re.IGNORECASE)


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
    by_function = {}
    for line in trace.splitlines():
        match = REG_CALL.match(line)
        if match and low <= int(match.group(3), 16) < high:
            name = match.group(2)
            by_function[name] = by_function.get(name, 0) + 1
    return sum(by_function.values()), by_function, done.stdout


def bench_lookup(runs, others):
    log(f"5. getUSBPort: {others} other USB devices, one with 50 instances; "
        f"{runs} runs each, interleaved with an empty program")
    out = {"runs": runs, "other_devices": others, "calls": []}
    started = time.monotonic()
    with winebed.Registry(other_devices(others)):
        out["registry_setup_s"] = time.monotonic() - started
        fixture, ports = serial_device(50, 0)
        identifier = identifier_for(50)
        with fixture:
            expected = "".join(f"{identifier} {port}\n" for port in ports)
            # The lookup and the empty program are the figure; corvel with no
            # arguments (it ends at once) and a lookup of an absent device
            # split the difference into loading corvel and looking up.
            programs = [("lookup", [str(EXE_X64), "getUSBPort", identifier]),
                        ("empty", [str(EMPTY_EXE)]),
                        ("corvel_no_arguments", [str(EXE_X64)]),
                        ("lookup_absent_device", [str(EXE_X64), "getUSBPort", "0x00000000"])]
            samples, answers = {name: [] for name, _ in programs}, set()
            for _ in range(2):  # warm-up: page cache, wineserver
                for _, argv in programs:
                    timed_run(argv)
            for i in range(runs):
                # Rotated, so that no program always follows the same one.
                for name, argv in programs[i % 4:] + programs[:i % 4]:
                    seconds, done = timed_run(argv)
                    samples[name].append(seconds * 1000.0)
                    if name == "lookup":
                        answers.add(done.stdout.decode("latin-1") == expected)
            for name, values in samples.items():
                out[name + "_ms"] = {"median": statistics.median(values), "samples": values}
            out["ratio"] = out["lookup_ms"]["median"] / out["empty_ms"]["median"]
            out["answer_correct"] = answers == {True}
            log(f"   lookup median {out['lookup_ms']['median']:.1f} ms, empty program "
                f"{out['empty_ms']['median']:.1f} ms, ratio {out['ratio']:.3f}; "
                f"answer {'correct' if out['answer_correct'] else 'WRONG'}")
            log(f"   corvel with no arguments {out['corvel_no_arguments_ms']['median']:.1f} ms, "
                f"lookup of an absent device {out['lookup_absent_device_ms']['median']:.1f} ms")
            calls_50 = count_registry_calls(identifier)
        for instances in INSTANCE_COUNTS:
            if instances == 50:
                total, by_function, stdout = calls_50
                lines = stdout.count(b"\n")
            else:
                fixture, _ = serial_device(instances, 100)
                with fixture:
                    total, by_function, stdout = count_registry_calls(identifier_for(instances))
                    lines = stdout.count(b"\n")
            out["calls"].append({"instances": instances, "registry_calls": total,
                                 "by_function": by_function, "answer_lines": lines})
            log(f"   {instances:>2} instance(s): {total} registry calls "
                f"({', '.join(f'{k} {v}' for k, v in sorted(by_function.items()))})")
    return out


# --- 6. Sizes ---------------------------------------------------------------

def pe_facts(path):
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    symbols, count = struct.unpack_from("<II", data, pe + 4 + 8)
    return {"bytes": len(data), "stripped": symbols == 0 and count == 0}


def bench_sizes():
    log("6. Executable sizes")
    out = {}
    for name, path in (("corvel_x64.exe", EXE_X64), ("corvel_x32.exe", EXE_X32),
                       ("empty program (x64)", EMPTY_EXE)):
        out[name] = pe_facts(path)
        log(f"   {name:<20} {out[name]['bytes']} bytes"
            f"{'' if out[name]['stripped'] else ' (has a symbol table)'}")
    return out


# --- The machine and the report ---------------------------------------------

def machine():
    cpu = "unknown"
    with open("/proc/cpuinfo") as handle:
        for line in handle:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    wine = subprocess.run([winebed.WINE64, "--version"], capture_output=True, text=True).stdout.strip()
    socat = subprocess.run(["socat", "-V"], capture_output=True, text=True).stdout
    socat_version = next((line.split("version", 1)[1].strip().split()[0]
                          for line in socat.splitlines() if "socat version" in line), "?")
    commit = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True).stdout.strip()
    dirty = subprocess.run(["git", "-C", str(ROOT), "status", "--porcelain", "--", "src"],
                           capture_output=True, text=True).stdout.strip()
    return {"nproc": os.cpu_count(), "cpu": cpu, "kernel": platform.release(),
            "os": platform.freedesktop_os_release().get("PRETTY_NAME", "?"),
            "wine": wine, "socat": socat_version, "python": platform.python_version(),
            "commit": commit + (" (src/ has uncommitted changes)" if dirty else ""),
            "loadavg_start": os.getloadavg()}


def other_wineservers(prefix):
    """Wine sessions of others running at the same time share the two cores."""
    ours = wineserver_pid(prefix)
    count = 0
    for entry in pathlib.Path("/proc").iterdir():
        if entry.name.isdigit() and int(entry.name) != ours:
            try:
                if (entry / "comm").read_text().startswith("wineserver"):
                    count += 1
            except OSError:
                pass
    return count


def plot(latency, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(1, 2, figsize=(12, 4.8), sharey=True)
    colours = {"corvel defaults": "tab:blue", "corvel -1 0 0": "tab:orange",
               "corvel 0 1 0": "tab:green", "socat": "tab:grey"}
    for axis, direction in zip(axes, ("device->host", "host->device")):
        for case in latency["cases"]:
            if case["direction"] != direction or not case["samples_ms"]:
                continue
            values = sorted(case["samples_ms"])
            fractions = [(i + 1) / len(values) for i in range(len(values))]
            colour = colours.get(case["case"], "black")
            axis.step(values, fractions, where="post", color=colour,
                      label=f"{case['case']} (p50 {case['p50']:.2f}, p99 {case['p99']:.1f} ms)")
            if "bound_ms" in case:
                axis.axvline(case["bound_ms"], color=colour, linestyle=":", linewidth=1)
        axis.set_xscale("log")
        axis.set_xlabel("delay of one byte, ms (log scale); dotted: design bound")
        axis.set_title(direction)
        axis.grid(True, which="both", alpha=0.3)
        axis.legend(fontsize=8, loc="upper left")
    axes[0].set_ylabel("fraction of bytes delivered")
    figure.suptitle(f"corvel_x64.exe under Wine vs socat: 1-byte latency, "
                    f"{latency['rounds']} rounds each (pty device)")
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)


def met(flag):
    return "met" if flag else "**not met**"


def report(results, path):
    m = results["machine"]
    rows = []

    def row(*cells):
        rows.append("| " + " | ".join(str(c) for c in cells) + " |")

    tp = results["throughput"]
    row("What", "corvel", "Reference", "Ratio", "Target", "Result")
    row(*["---"] * 6)
    for mode, runs in tp["runs"].items():
        for direction in ("up", "down"):
            if direction not in runs["corvel"]:
                continue
            ours, theirs = runs["corvel"][direction], runs["socat"][direction]
            ratio = ours["mib_per_s"] / theirs["mib_per_s"]
            label = "stdin->port" if direction == "up" else "port->stdout"
            ok = ours["sha256_ok"] and theirs["sha256_ok"]
            row(f"1. Throughput, {mode}" + (f": {label}" if mode == "both at once" else ""),
                f"{ours['mib_per_s']:.1f} MiB/s" + ("" if ours["sha256_ok"] else " (sha256 MISMATCH)"),
                f"socat {theirs['mib_per_s']:.1f} MiB/s" + ("" if theirs["sha256_ok"] else " (sha256 MISMATCH)"),
                f"{ratio:.2f}", ">= 0.40 x socat", met(ratio >= 0.4 and ok))
    socat = {c["direction"]: c for c in results["latency"]["cases"] if c["case"] == "socat"}
    for case in results["latency"]["cases"]:
        if case["case"] == "socat":
            continue
        ref = socat[case["direction"]]
        ok = case["p99"] <= case["bound_ms"] and case["lost"] == 0
        target = f"p99 <= {case['bound_ms']:.0f} ms (bound)"
        if case["direction"] == "host->device":
            ok = ok and case["p50"] < 2.0
            target += ", p50 < 2 ms"
        row(f"2. Latency {case['direction']}, {case['timeouts']}",
            f"p50 {case['p50']:.2f} / p99 {case['p99']:.2f} / max {case['max']:.2f} ms"
            + (f", {case['lost']} lost" if case["lost"] else ""),
            f"socat p50 {ref['p50']:.3f} / p99 {ref['p99']:.3f} ms",
            f"p99 {case['p99'] / case['bound_ms']:.2f} x bound", target, met(ok))
    idle = results["idle"]
    for name, case in idle["cases"].items():
        row(f"3. Idle CPU, {name}",
            f"{case['process'] * 100:.3f} % (process) + {case['wineserver_attributable'] * 100:.3f} % "
            f"(wineserver) = {case['total'] * 100:.3f} % of a core",
            f"wineserver {case['wineserver'] * 100:.3f} % in the window, "
            f"{idle['wineserver_baseline'] * 100:.3f} % with no bridge; a Wine process that only "
            f"sleeps (the host) {case['idle_wine_process'] * 100:.3f} %",
            f"{case['total'] / 0.01:.2f} x budget", "< 1 % of a core", met(case["total"] < 0.01))
    end = results["end"]
    row("4. End after the host dies", f"p50 {end['p50']:.0f} / p99 {end['p99']:.0f} / "
        f"max {end['max']:.0f} ms ({end['trials']} trials)",
        "design: <= 500 ms watch + 50 ms poll", f"p99 {end['p99'] / 600:.2f} x target",
        "p99 < 600 ms", met(end["p99"] < 600 and end["not_ended_within_10_s"] == 0))
    lk = results["lookup"]
    row("5. getUSBPort, 50 instances among 1,000 devices",
        f"median {lk['lookup_ms']['median']:.1f} ms" + ("" if lk["answer_correct"] else " (WRONG answer)"),
        f"empty program {lk['empty_ms']['median']:.1f} ms (corvel with no arguments "
        f"{lk['corvel_no_arguments_ms']['median']:.1f} ms, absent device "
        f"{lk['lookup_absent_device_ms']['median']:.1f} ms)", f"{lk['ratio']:.3f}",
        "<= 1.10 x empty program", met(lk["ratio"] <= 1.10 and lk["answer_correct"]))
    for name, facts in results["sizes"].items():
        if name.startswith("corvel"):
            row(f"6. Size, {name}", f"{facts['bytes']:,} bytes ({facts['bytes'] / 1024:.1f} KiB)"
                + ("" if facts["stripped"] else ", not stripped"),
                f"empty program {results['sizes']['empty program (x64)']['bytes']:,} bytes",
                f"{facts['bytes'] / 65536:.2f} x target", "<= 64 KiB", met(facts["bytes"] <= 65536))

    calls = ["| Instances | Registry calls per lookup | By function |", "| ---: | ---: | --- |"]
    for entry in lk["calls"]:
        calls.append(f"| {entry['instances']} | {entry['registry_calls']} | "
                     + ", ".join(f"{k} {v}" for k, v in sorted(entry["by_function"].items())) + " |")
    first, last = lk["calls"][0], lk["calls"][-1]
    slope = ((last["registry_calls"] - first["registry_calls"])
             / max(1, last["instances"] - first["instances"]))

    lat = ["| Case | Direction | p50 ms | p99 ms | max ms | mean ms | Bound ms |",
           "| --- | --- | ---: | ---: | ---: | ---: | ---: |"]
    for case in results["latency"]["cases"]:
        lat.append(f"| {case['case']} | {case['direction']} | {case['p50']:.3f} | {case['p99']:.3f} | "
                   f"{case['max']:.3f} | {case['mean']:.3f} | "
                   f"{case.get('bound_ms', float('nan')):.0f} |".replace("| nan |", "| - |"))

    text = f"""# corvel benchmarks

Produced by `{results['command']}` on {results['date']} (commit {m['commit']}),
in {results['duration_s'] / 60:.1f} minutes.

Machine: {m['nproc']} cores, {m['cpu']}, Linux {m['kernel']}, {m['os']}, {m['wine']}
(64-bit, `wine64`, `WINEDEBUG=-all`, one throwaway prefix), socat {m['socat']}, Python {m['python']}.
Load average at start {', '.join(f'{x:.2f}' for x in m['loadavg_start'])}; 1-minute load average at the end
of each part: {', '.join(f"{name} {results[name]['loadavg_1min_end']:.1f}" for name in ('throughput', 'latency', 'idle', 'end', 'lookup'))}
(2 cores: above 2, other work competed with the bench); other Wine sessions running beside
the bench: {results['other_wineservers']}.

corvel is `build/x64/corvel_x64.exe` (MinSizeRel, stripped) under Wine; the serial device
is a Linux pty behind `COM<n>`, played by the bench on the master side; the host is a real
Windows process (`corvel_test_host.exe`). The references run in the same session, on the
same kind of pty, with the same data: `socat -b 4096 STDIO <pty slave>,raw,echo=0`
natively, and an empty console program built like corvel (`bench/empty.cpp`).

## Figures

{chr(10).join(rows)}

## Latency in detail

One byte at a time, {results['latency']['rounds']} rounds per direction and case, each after a
random pause of 0 to 20 ms so that bytes meet the pumps at every point of their cycle. The
bound is the read time-out + the {PUMP_PAUSE_MS:.0f} ms pause after an empty read + one step of
Wine's clock ({WINE_CLOCK_STEP_MS:.0f} ms). Time-out sets are the arguments after the port
number: defaults (read interval 0, read constant 10 ms), `-1 0 0` (reads return at once),
`0 1 0` (read constant 1 ms). Distributions: `latency.png`.

{chr(10).join(lat)}

![latency distributions](latency.png)

## Registry calls of one lookup

Counted from Wine's relay trace (`WINEDEBUG=+relay`): `Reg*` calls into advapi32/kernelbase
whose return address lies in corvel_x64.exe (calls, not returns), with the
{lk['other_devices']:,} other devices present and the serial-port map holding exactly the
looked-up device's ports. Growth from {first['instances']} to {last['instances']} instances:
{slope:.1f} calls per added instance on average.

{chr(10).join(calls)}

Where the lookup's time goes (medians): the empty program {lk['empty_ms']['median']:.1f} ms;
corvel with no arguments, which loads and ends at once, {lk['corvel_no_arguments_ms']['median']:.1f} ms
(+{lk['corvel_no_arguments_ms']['median'] - lk['empty_ms']['median']:.1f} ms: corvel imports ADVAPI32, which
Wine loads with its own dependencies, the empty program imports only KERNEL32 and msvcrt); a
lookup of an absent device {lk['lookup_absent_device_ms']['median']:.1f} ms; the 50-instance lookup
{lk['lookup_ms']['median']:.1f} ms (+{lk['lookup_ms']['median'] - lk['corvel_no_arguments_ms']['median']:.1f} ms over loading).

## How each figure is taken

1. Throughput: {tp['bytes_per_direction'] // MIB} MiB of seeded random bytes per direction, best of
   {tp['repeats']} runs each (corvel and socat alternated; all runs are in results.json),
   host side through pipes on stdin/stdout, device side on the pty master; time from the first
   write to the last byte received; content checked by sha256 (up `{tp['sha256_up'][:16]}...`,
   down `{tp['sha256_down'][:16]}...`). A fresh relay per run, started and settled (one probe
   byte through) before the clock starts.
2. Latency: as above; a byte not delivered within 2 s counts as lost.
3. Idle CPU: utime + stime from `/proc/<pid>/stat` of the Linux process that `wine64` became
   (it execs; all threads included) over {idle['window_s']:.0f} s, plus the wineserver's CPU in the
   same window less its rate over {results['idle_baseline_s']:.0f} s with the host alive and no bridge
   (the wineserver serves every Windows process of the prefix). Default time-outs, and
   once with `0 200 0` (read constant 200 ms) to show what the port reads cost.
4. End: host started, bridge started and settled, host killed at a random point of the
   watcher's 500 ms cycle; delay from the host's reaping to the bridge's exit (pidfd).
5. getUSBPort: wall time of `wine64 corvel_x64.exe getUSBPort {identifier_for(50)}` against
   `wine64 empty_x64.exe`, {lk['runs']} runs each, interleaved, after 2 warm-up runs; medians.
   The registry holds {lk['other_devices']:,} other USB devices (2 keys each) and the looked-up
   device with 50 instances, all 50 in the serial-port map; the answer (50 lines) is checked.
6. Sizes: file sizes of the release builds; "stripped" means no COFF symbol table.
"""
    path.write_text(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="small sizes: a smoke run")
    parser.add_argument("--out", default=str(BENCH), help="folder for the results")
    parser.add_argument("--command", default="python3 bench/run.py",
                        help="the command to name in the report")
    args = parser.parse_args()
    out_dir = pathlib.Path(args.out)
    out_dir.mkdir(parents=True, exist_ok=True)
    for needed in (EXE_X64, EXE_X32, TEST_HOST, EMPTY_EXE):
        if not needed.exists():
            sys.exit(f"{needed} is missing: run scripts/bench.sh, which builds it")
    if shutil.which("socat") is None:
        sys.exit("socat is missing: run scripts/bench.sh, which installs it")

    size = 4 * MIB if args.quick else 64 * MIB
    rounds = 50 if args.quick else 500
    window = 4.0 if args.quick else 20.0
    baseline = 3.0 if args.quick else 10.0
    trials = 4 if args.quick else 30
    runs = 5 if args.quick else 30
    others = 100 if args.quick else 1000

    os.environ["CORVEL_EXE"] = str(EXE_X64)
    os.environ["CORVEL_TEST_HOST"] = str(TEST_HOST)
    folder = pathlib.Path(tempfile.mkdtemp(prefix="corvel-bench-"))
    prefix = folder / "wine"
    os.environ["WINEPREFIX"] = str(prefix)

    started = time.monotonic()
    results = {"command": args.command + (" --quick" if args.quick else ""),
               "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
               "machine": machine(), "quick": args.quick, "idle_baseline_s": baseline}
    log(f"Machine: {results['machine']['nproc']} cores, {results['machine']['cpu']}, "
        f"Linux {results['machine']['kernel']}, {results['machine']['wine']}")
    log(f"Setting up a throwaway Wine prefix in {prefix} ...")
    winebed.create_prefix(prefix)
    try:
        results["other_wineservers"] = other_wineservers(prefix)
        results["sizes"] = bench_sizes()
        sections = [("throughput", lambda: bench_throughput(size)),
                    ("latency", lambda: bench_latency(rounds)),
                    ("idle", lambda: bench_idle(window, baseline)),
                    ("end", lambda: bench_end(trials)),
                    ("lookup", lambda: bench_lookup(runs, others))]
        for name, section in sections:
            section_started = time.monotonic()
            results[name] = section()
            results[name]["seconds"] = time.monotonic() - section_started
            # The 1-minute load average over the section: others' work on the
            # same two cores shows in every figure.
            results[name]["loadavg_1min_end"] = os.getloadavg()[0]
    finally:
        winebed.destroy_prefix(prefix)
        shutil.rmtree(folder, ignore_errors=True)
    results["machine"]["loadavg_end"] = os.getloadavg()
    results["duration_s"] = time.monotonic() - started

    (out_dir / "results.json").write_text(json.dumps(results, indent=1) + "\n")
    plot(results["latency"], out_dir / "latency.png")
    report(results, out_dir / "RESULTS.md")
    log(f"Done in {results['duration_s'] / 60:.1f} min: {out_dir / 'RESULTS.md'}, "
        f"{out_dir / 'results.json'}, {out_dir / 'latency.png'}")


if __name__ == "__main__":
    main()
