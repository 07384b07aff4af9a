"""Idle CPU of a quiet bridge, of one whose stdin has ended, and of one with
a long read time-out, counting the share of the wineserver it causes."""

import os
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))  # bench/, when run alone
from common import PORTS, log, settle, start_corvel, wineserver_pid, winebed  # noqa: E402

NAME = "idle"
TITLE = "idle CPU of a bridge"

TICK = os.sysconf("SC_CLK_TCK")

CASES = (("host alive, lines quiet", ()),
         ("stdin at end of input", ()),
         ("lines quiet, time-outs 0 200 0", ("0", "200", "0")))


def cpu_seconds(pid):
    """utime + stime of a process, all its threads, in seconds."""
    with open(f"/proc/{pid}/stat") as handle:
        fields = handle.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def cpu_share(pids, seconds):
    """CPU seconds per wall second of each pid over a window of `seconds`."""
    before = {pid: cpu_seconds(pid) for pid in pids}
    started = time.perf_counter()
    time.sleep(seconds)
    wall = time.perf_counter() - started
    return {pid: (cpu_seconds(pid) - before[pid]) / wall for pid in pids}, wall


def measure(case, timeouts, port, host, server, baseline, window):
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
    finally:
        relay.close()
    attributable = max(0.0, shares[server] - baseline)
    log(f"   {case:<30} process {shares[pid] * 100:.3f} %, wineserver "
        f"{shares[server] * 100:.3f} % (baseline {baseline * 100:.3f} %), "
        f"idle host {shares[host.process.pid] * 100:.3f} %")
    return {"timeouts": " ".join(timeouts) or "defaults",
            "process": shares[pid], "wineserver": shares[server],
            "wineserver_attributable": attributable,
            "total": shares[pid] + attributable,
            "idle_wine_process": shares[host.process.pid],
            "wall_s": wall, "linux_exe": exe, "linux_cmdline0": cmdline.decode()}


def run(quick=False):
    window = 4.0 if quick else 20.0
    baseline_window = 3.0 if quick else 10.0
    log(f"Idle CPU over {window:.0f} s windows")
    server = wineserver_pid(winebed.prefix_path())
    out = {"window_s": window, "baseline_s": baseline_window, "wineserver_pid": server,
           "cases": {}}
    with winebed.PtyPort(PORTS[NAME]) as port, winebed.HostProcess() as host:
        shares, _ = cpu_share([server], baseline_window)
        out["wineserver_baseline"] = shares[server]
        log(f"   wineserver with no bridge running: {shares[server] * 100:.3f} % of a core")
        for case, timeouts in CASES:
            out["cases"][case] = measure(case, timeouts, port, host, server,
                                         out["wineserver_baseline"], window)
    return out


if __name__ == "__main__":
    from run import run_parts
    run_parts([NAME])
