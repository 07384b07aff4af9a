"""How soon the bridge ends after its host has died."""

import pathlib
import random
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))  # bench/, when run alone
from common import (PORTS, drain, exit_delay_ms, log, settle, start_corvel,  # noqa: E402
                    summary_ms, winebed)

NAME = "end"
TITLE = "end after the host dies"


def trial(port, rng):
    """One bridge, its host killed; returns (delay in ms or None, exit code
    or None when it had not ended within 10 s)."""
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


def run(quick=False):
    trials = 4 if quick else 30
    log(f"End after the host dies: {trials} trials")
    rng = random.Random(4)
    delays, codes = [], []
    with winebed.PtyPort(PORTS[NAME]) as port:
        for _ in range(trials):
            delay, code = trial(port, rng)
            codes.append(code)
            if delay is not None:
                delays.append(delay)
    out = {"trials": trials, **summary_ms(delays), "samples_ms": delays,
           "exit_codes": sorted(set(codes), key=str),
           "not_ended_within_10_s": codes.count(None)}
    log(f"   p50 {out['p50']:.0f}  p99 {out['p99']:.0f}  max {out['max']:.0f} ms, "
        f"exit codes {out['exit_codes']}")
    return out


if __name__ == "__main__":
    from run import run_parts
    run_parts([NAME])
