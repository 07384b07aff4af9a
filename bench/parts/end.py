"""How soon the bridge ends after its host has died: a host that only runs
beside corvel (found by name, one look every 500 ms), and a host that started
corvel (its nearest ancestor of that name, waited on)."""

import os
import pathlib
import random
import shutil
import select
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))  # bench/, when run alone
from common import (PORTS, ROOT, drain, exit_delay_ms, log, settle, start_corvel,  # noqa: E402
                    summary_ms, winebed)
import bridgebed  # noqa: E402  (tests/wine, on the path through common)

NAME = "end"
TITLE = "end after the host dies"
BY_NAME = "host found by name"
ANCESTOR = "ancestor host"
# Starts corvel as Python's subprocess or .NET's Process do: CreateProcess
# with pipes, no job object.
PIPE_HOST = ROOT / "build" / "x64" / "tests" / "corvel_pipe_host.exe"
# corvel and the host run as copies under these names, which nothing else in
# the prefix has.
CORVEL_COPY = "corvel-bench-end.exe"
HOST_COPY = "benchhost.exe"


def by_name_trial(port, rng):
    """One bridge started beside its host, the host killed; returns (delay in
    ms or None, exit code or None when it had not ended within 10 s)."""
    with winebed.HostProcess() as host:
        relay = start_corvel(host.name, port)
        try:
            settle(relay, port)
            # Killed at a random point of the watcher's 500 ms cycle.
            time.sleep(rng.uniform(0.0, 0.5))
            host.process.kill()
            host.process.wait()
            delay = exit_delay_ms(relay.process, time.monotonic())
            return delay, None if delay is None else relay.process.wait()
        finally:
            relay.close()
            drain(port, 0.05)


def ended_after_ms(pidfd, since, timeout=10.0):
    """The ms from `since` to the end of the process behind `pidfd`, or None
    when it still runs after `timeout` seconds."""
    ready, _, _ = select.select([pidfd], [], [], timeout)
    return (time.monotonic() - since) * 1000.0 if ready else None


def ancestor_trial(port, rng, folder):
    """One bridge started by its host through pipes, the host killed; returns
    (delay in ms or None, exit code or None). corvel is not this process's
    child, so its end is seen through a pidfd of its Linux process and its
    exit code through a Windows watcher that holds it."""
    host = bridgebed.PipeHost(str(folder / HOST_COPY), str(folder / CORVEL_COPY),
                              ["open", HOST_COPY, str(port.number)])
    watcher = None
    pid = None
    try:
        bridgebed.settle(host, port)
        pid = bridgebed.linux_pid(CORVEL_COPY)
        watcher = bridgebed.Watcher(str(PIPE_HOST), CORVEL_COPY)
        pidfd = os.pidfd_open(pid)
        try:
            # At a random moment, as for the host found by name.
            time.sleep(rng.uniform(0.0, 0.5))
            host.kill()
            delay = ended_after_ms(pidfd, time.monotonic())
        finally:
            os.close(pidfd)
        ended = watcher.ended(timeout=5) if delay is not None else None
        return delay, None if ended is None else ended[0]
    finally:
        host.close()
        if watcher is not None:
            watcher.close()
        if pid is not None and bridgebed.linux_pid(CORVEL_COPY) == pid:
            os.kill(pid, 9)  # one that never ended must not hold the port for the next trial
        drain(port, 0.05)


def summarise(case, trials, delays, codes):
    out = {"trials": trials, **summary_ms(delays), "samples_ms": delays,
           "exit_codes": sorted(set(codes), key=str),
           "not_ended_within_10_s": codes.count(None)}
    log(f"   {case}: p50 {out['p50']:.0f}  p99 {out['p99']:.0f}  max {out['max']:.0f} ms, "
        f"exit codes {out['exit_codes']}")
    return out


def run_trials(trials, trial):
    delays, codes = [], []
    for _ in range(trials):
        delay, code = trial()
        codes.append(code)
        if delay is not None:
            delays.append(delay)
    return delays, codes


def run(quick=False):
    trials = 4 if quick else 30
    log(f"End after the host dies: {trials} trials for each kind of host")
    rng = random.Random(4)
    cases = {}
    folder = pathlib.Path(tempfile.mkdtemp(prefix="corvel-bench-end-"))
    try:
        shutil.copyfile(winebed.program(), folder / CORVEL_COPY)
        shutil.copyfile(PIPE_HOST, folder / HOST_COPY)
        with winebed.PtyPort(PORTS[NAME]) as port:
            cases[BY_NAME] = summarise(BY_NAME, trials,
                                       *run_trials(trials, lambda: by_name_trial(port, rng)))
            cases[ANCESTOR] = summarise(ANCESTOR, trials, *run_trials(
                trials, lambda: ancestor_trial(port, rng, folder)))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return {"cases": cases}


if __name__ == "__main__":
    from run import run_parts
    run_parts([NAME])
