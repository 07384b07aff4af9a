"""One-byte latency, device->host and host->device, for three sets of port
time-outs, against socat and against the bound the pump design gives."""

import os
import pathlib
import random
import select
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))  # bench/, when run alone
from common import (PORTS, PUMP_PAUSE_MS, WINE_CLOCK_STEP_MS, drain, log,  # noqa: E402
                    settle, start_corvel, start_socat, summary_ms, winebed)

NAME = "latency"
TITLE = "one-byte latency against socat"

# Time-out sets: the arguments after the port number, and the read time-out
# they give (ReadTotalTimeoutConstant; the interval and multiplier add nothing
# to a lone byte's wait).
TIMEOUT_SETS = [
    ("defaults", (), 10.0),
    ("-1 0 0", ("-1", "0", "0"), 0.0),
    ("0 1 0", ("0", "1", "0"), 1.0),
]


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


def run(quick=False):
    rounds = 50 if quick else 500
    log(f"Latency: 1-byte ping, {rounds} rounds per direction and set")
    rng = random.Random(3)
    out = {"rounds": rounds, "cases": []}
    with winebed.PtyPort(PORTS[NAME]) as port, winebed.HostProcess() as host:
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
            drain(port, 0.2)
    return out


if __name__ == "__main__":
    from run import run_parts
    run_parts([NAME])
