"""One-byte latency, device->host and host->device, for three sets of port
time-outs, against socat and against the bound the pump design gives; and
beside it, what the pumps' model of Windows' port handle gives for the same
sets and two more."""

import json
import os
import pathlib
import random
import select
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))  # bench/, when run alone
from common import (PORTS, PORT_MODEL, PUMP_PAUSE_MS, WINE_CLOCK_STEP_MS, drain,  # noqa: E402
                    log, settle, start_corvel, start_socat, summary_ms, winebed)

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
# Sets only the model runs: under Wine they show nothing new, on Windows they
# hold up the host's bytes (reads that wait for 4096 bytes; reads of 200 ms).
MODEL_ONLY_SETS = [("0 0 0", ("0", "0", "0")), ("20 200 0", ("20", "200", "0"))]
HANDLES = ("one_at_a_time", "both_at_once")


def model(args, rounds):
    """The model's delays for a time-out set: for each direction and handle,
    their summary and how many bytes never came out within the run."""
    done = subprocess.run([str(PORT_MODEL), str(rounds), *args], capture_output=True,
                          text=True, check=True)
    out = {}
    for direction, handles in json.loads(done.stdout).items():
        out[direction] = {}
        for handle in HANDLES:
            delays = handles[handle]
            passed = [delay for delay in delays if delay is not None]
            out[direction][handle] = {**summary_ms(passed), "never": len(delays) - len(passed)}
    return out


def log_model(label, figures):
    for direction, handles in figures.items():
        windows = handles["one_at_a_time"]
        log(f"   model {label:<10} {direction:<13} one at a time: " + (
            f"p50 {windows['p50']:6.2f}  p99 {windows['p99']:6.2f}  max {windows['max']:6.2f} ms"
            if windows["count"] else "no byte came out")
            + (f" ({windows['never']} never)" if windows["never"] else ""))


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
    # Virtual time: the model's figures need no repeat and no quiet machine.
    models = {label: args for label, args, _ in TIMEOUT_SETS}
    models.update(MODEL_ONLY_SETS)
    out["model"] = {"rounds": rounds, "sets": {}}
    for label, args in models.items():
        out["model"]["sets"][label] = model(args, rounds)
        log_model(label, out["model"]["sets"][label])
    return out


if __name__ == "__main__":
    from run import run_parts
    run_parts([NAME])
