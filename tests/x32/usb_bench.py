"""The bridge's figures over the real USB link in the guest of
scripts/test-x32.sh (the gadget on dummy_hcd, cdc_acm's ttyACM as COM port),
beside the same figures over a pty in the same guest, measured alternately in
one run: throughput each way alone and device-to-host latency of one byte.
corvel_x64.exe, default time-outs. Prints the figures as one JSON line
("corvel-usb-bench: {...}") for bench/parts/usb.py; asserts nothing.
"""

import hashlib
import json
import pathlib
import random
import statistics
import sys
import threading
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent / "tests" / "wine"))
import usbplug  # noqa: E402
import winebed  # noqa: E402
from bridgebed import Bridge, settle  # noqa: E402

SIZE = 2 << 20
ROUNDS = 3
PINGS = 60


def down(bridge, device):
    """Device to host: SIZE bytes, seconds until the last reached stdout."""
    data = random.Random(3).randbytes(SIZE)
    before = bridge.stdout.count
    started = time.monotonic()
    threading.Thread(target=device.write, args=(data,), daemon=True).start()
    ended = bridge.stdout.wait_for(before + SIZE, timeout=300)
    if bridge.stdout.count < before + SIZE:
        raise RuntimeError("device to host: not everything arrived")
    return ended - started


def up(bridge, device):
    """Host to device: SIZE bytes, seconds until the device had the last."""
    data = random.Random(4).randbytes(SIZE)
    started = time.monotonic()
    threading.Thread(target=bridge.send, args=(data,), daemon=True).start()
    received = device.read_exactly(SIZE, timeout=300)
    ended = time.monotonic()
    if hashlib.sha256(received).digest() != hashlib.sha256(data).digest():
        raise RuntimeError("host to device: bytes differ")
    return ended - started


def pings(bridge, device, rounds, rng):
    """One byte from the device after a random pause; ms until it is on stdout."""
    delays = []
    for _ in range(rounds):
        time.sleep(rng.uniform(0.0, 0.03))
        before = bridge.stdout.count
        sent = time.monotonic()
        device.write(b"\x55")
        arrived = bridge.stdout.wait_for(before + 1, timeout=10)
        delays.append((arrived - sent) * 1000)
    return delays


def summary(delays):
    ordered = sorted(delays)
    return {"median_ms": round(statistics.median(ordered), 2),
            "p90_ms": round(ordered[int(0.9 * (len(ordered) - 1))], 2),
            "max_ms": round(ordered[-1], 2), "count": len(ordered)}


def main():
    figures = {kind: {"down_s": [], "up_s": [], "pings": []} for kind in ("pty", "usb")}
    rng = random.Random(5)
    with winebed.HostProcess() as host, winebed.PtyPort() as pty, \
            usbplug.UsbSerialDevice("0483", "5750", "CORVELBENCH") as usb:
        usb.plug()
        devices = {"pty": pty, "usb": usb}
        bridges = {}
        try:
            for kind, device in devices.items():
                bridges[kind] = Bridge(host.name, device.number, keep=False)
                settle(bridges[kind], device)
            for _ in range(ROUNDS):
                for kind, device in devices.items():
                    figures[kind]["down_s"].append(down(bridges[kind], device))
                    figures[kind]["up_s"].append(up(bridges[kind], device))
                    figures[kind]["pings"] += pings(bridges[kind], device, PINGS // ROUNDS, rng)
        finally:
            for bridge in bridges.values():
                bridge.close()
    result = {"bytes": SIZE, "rounds": ROUNDS, "plug_seconds": round(usb.plug_seconds, 3)}
    for kind, measured in figures.items():
        result[kind] = {
            "down_mib_s": round(SIZE / (1 << 20) / statistics.median(measured["down_s"]), 2),
            "up_mib_s": round(SIZE / (1 << 20) / statistics.median(measured["up_s"]), 2),
            "down_s": [round(s, 3) for s in measured["down_s"]],
            "up_s": [round(s, 3) for s in measured["up_s"]],
            "latency": summary(measured["pings"]),
        }
    for key in ("down_mib_s", "up_mib_s"):
        result[f"{key}_ratio"] = round(result["usb"][key] / result["pty"][key], 2)
    result["latency_median_ratio"] = round(result["usb"]["latency"]["median_ms"]
                                           / result["pty"]["latency"]["median_ms"], 2)
    with open("/proc/version") as version:
        result["kernel"] = version.read().split()[2]
    print("corvel-usb-bench: " + json.dumps(result), flush=True)


if __name__ == "__main__":
    main()
