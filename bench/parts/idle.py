"""Idle CPU of a quiet bridge, of one whose stdin has ended, and of one with
a long read time-out, each side by side in the same window with the floor of
its design: a program that runs only the polling loops the bridge is built on
(bench/idle_floor.cpp), on a port of its own with the same time-outs."""

import os
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))  # bench/, when run alone
from common import (IDLE_FLOOR_EXE, PORTS, Relay, log, settle, start_corvel,  # noqa: E402
                    wineserver_pid, winebed)

NAME = "idle"
TITLE = "idle CPU of a bridge"


CASES = (("host alive, lines quiet", ()),
         ("stdin at end of input", ()),
         ("lines quiet, time-outs 0 200 0", ("0", "200", "0")))


def cpu_seconds(pid):
    """Time on a CPU of a process, all its threads, in seconds: the
    scheduler's nanosecond counts (a clock tick of /proc/<pid>/stat is 10 ms,
    too coarse for a process that runs 2 % of the time)."""
    total = 0
    for task in pathlib.Path(f"/proc/{pid}/task").iterdir():
        try:
            total += int((task / "schedstat").read_text().split()[0])
        except (OSError, IndexError, ValueError):
            pass  # a thread that ended between the listing and the read
    return total / 1e9


def cpu_share(pids, seconds):
    """CPU seconds per wall second of each pid over a window of `seconds`."""
    before = {pid: cpu_seconds(pid) for pid in pids}
    started = time.perf_counter()
    time.sleep(seconds)
    wall = time.perf_counter() - started
    return {pid: (cpu_seconds(pid) - before[pid]) / wall for pid in pids}, wall


def start_floor(host_name, port, *timeouts):
    return Relay(winebed.start_program(host_name, str(port.number), *timeouts,
                                       exe=str(IDLE_FLOOR_EXE)), "idle floor")


def linux_identity(pid):
    """What the Linux process that `wine64` became is: its executable and argv[0]."""
    exe = os.readlink(f"/proc/{pid}/exe")
    cmdline = pathlib.Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")[0]
    return exe, cmdline.decode()


def measure(case, timeouts, ports, host, server, baseline, window):
    relays = [start_corvel(host.name, ports[0], *timeouts),
              start_floor(host.name, ports[1], *timeouts)]
    try:
        for relay, port in zip(relays, ports):
            settle(relay, port)
            if case == "stdin at end of input":
                relay.process.stdin.close()
        time.sleep(1.0)
        corvel, floor = (relay.process.pid for relay in relays)
        exe, cmdline = linux_identity(corvel)
        shares, wall = cpu_share([corvel, floor, server, host.process.pid], window)
    finally:
        for relay in relays:
            relay.close()
    # The wineserver serves both: its share is given for the two together.
    attributable = max(0.0, shares[server] - baseline)
    ratio = shares[corvel] / shares[floor] if shares[floor] else float("inf")
    log(f"   {case:<30} corvel {shares[corvel] * 100:.3f} %, floor {shares[floor] * 100:.3f} % "
        f"({ratio:.3f} x), wineserver {shares[server] * 100:.3f} % "
        f"(baseline {baseline * 100:.3f} %), idle host {shares[host.process.pid] * 100:.3f} %")
    return {"timeouts": " ".join(timeouts) or "defaults",
            "process": shares[corvel], "floor": shares[floor], "ratio_to_floor": ratio,
            "wineserver": shares[server], "wineserver_attributable_both": attributable,
            "idle_wine_process": shares[host.process.pid],
            "wall_s": wall, "linux_exe": exe, "linux_cmdline0": cmdline}


def run(quick=False):
    window = 4.0 if quick else 30.0
    baseline_window = 3.0 if quick else 10.0
    log(f"Idle CPU over {window:.0f} s windows")
    server = wineserver_pid(winebed.prefix_path())
    out = {"window_s": window, "baseline_s": baseline_window, "wineserver_pid": server,
           "cases": {}}
    with winebed.PtyPort(PORTS[NAME]) as port, winebed.PtyPort(PORTS["idle floor"]) as floor_port, \
            winebed.HostProcess() as host:
        shares, _ = cpu_share([server], baseline_window)
        out["wineserver_baseline"] = shares[server]
        log(f"   wineserver with no bridge running: {shares[server] * 100:.3f} % of a core")
        for case, timeouts in CASES:
            out["cases"][case] = measure(case, timeouts, (port, floor_port), host, server,
                                         out["wineserver_baseline"], window)
    return out


if __name__ == "__main__":
    from run import run_parts
    run_parts([NAME])
