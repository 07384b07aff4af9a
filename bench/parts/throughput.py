"""Bridge throughput, each direction alone and both at once, against socat
on the same kind of pty with the same data."""

import hashlib
import os
import pathlib
import random
import select
import sys
import threading
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))  # bench/, when run alone
from common import MIB, PORTS, drain, log, settle, start_corvel, start_socat, winebed  # noqa: E402

NAME = "throughput"
TITLE = "bridge throughput against socat"


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


def run(quick=False, repeats=2):
    size = 4 * MIB if quick else 64 * MIB
    log(f"Throughput: {size // MIB} MiB per direction, corvel vs socat, best of {repeats}")
    up = random.Random(1).randbytes(size)
    down = random.Random(2).randbytes(size)
    out = {"bytes_per_direction": size, "repeats": repeats, "sha256_up": hashlib.sha256(up).hexdigest(),
           "sha256_down": hashlib.sha256(down).hexdigest(), "runs": {}}
    modes = [("stdin->port", up, b""), ("port->stdout", b"", down), ("both at once", up, down)]
    with winebed.PtyPort(PORTS[NAME]) as port, winebed.HostProcess() as host:
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
                drain(port, 0.2)
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


if __name__ == "__main__":
    from run import run_parts
    run_parts([NAME])
