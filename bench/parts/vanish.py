"""How soon the bridge ends after its device has gone away, as an unplugged
USB device goes: the line's far end closes and the COM name disappears. The
bridge must end with exit code 3 and say nothing on stderr."""

import pathlib
import random
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))  # bench/, when run alone
from common import PORTS, exit_delay_ms, log, summary_ms, winebed  # noqa: E402
from bridgebed import Bridge, settle  # noqa: E402

NAME = "vanish"
TITLE = "end after the device vanishes"

EXIT_PORT_LOST = 3
# Bytes each way before the device goes: the bridge is mid-use, not idle
# since its start.
FLOW_BYTES = 16 << 10


def flow(bridge, port, rng):
    """Bytes both ways through the bridge; returns whether all arrived intact."""
    up, down = rng.randbytes(FLOW_BYTES), rng.randbytes(FLOW_BYTES)
    bridge.send(up)
    port.write(down)
    arrived_up = port.read_exactly(len(up))
    bridge.stdout.wait_for(len(down))
    return arrived_up == up and bytes(bridge.stdout.data) == down


def trial(host, rng, keep_slave):
    with winebed.PtyPort(PORTS[NAME]) as port:
        bridge = Bridge(host.name, port.number)
        try:
            settle(bridge, port)
            intact = flow(bridge, port, rng)
            # Gone at a random point of the bridge's 200 ms status cycle.
            time.sleep(rng.uniform(0.0, 0.2))
            vanished = port.vanish(keep_slave=keep_slave)
            delay = exit_delay_ms(bridge.process, vanished)
            code = None if delay is None else bridge.wait()
            stderr = bridge.stderr() if delay is not None else b""
        finally:
            bridge.close()
    return {"ms": delay, "exit_code": code, "stderr_bytes": len(stderr),
            "flow_intact": intact, "pty_slave_kept": keep_slave}


def run(quick=False):
    trials = 4 if quick else 30
    log(f"End after the device vanishes: {trials} trials")
    rng = random.Random(6)
    results = []
    with winebed.HostProcess() as host:
        for number in range(trials):
            # Half the trials with the pty's other end still held elsewhere,
            # half with nothing holding it: Wine's reads differ between them.
            results.append(trial(host, rng, keep_slave=number % 2 == 0))
            last = results[-1]
            log(f"   trial {number + 1:>2}: exit code {last['exit_code']} after "
                + ("more than 10 s" if last["ms"] is None else f"{last['ms']:.0f} ms")
                + (f", {last['stderr_bytes']} bytes on stderr" if last["stderr_bytes"] else "")
                + ("" if last["flow_intact"] else ", bytes before it LOST"))
    delays = [r["ms"] for r in results if r["ms"] is not None]
    codes = [r["exit_code"] for r in results]
    out = {"trials": trials, "flow_bytes_each_way": FLOW_BYTES, **summary_ms(delays),
           "samples": results,
           "exit_codes": {str(code): codes.count(code) for code in sorted(set(codes), key=str)},
           "all_exit_3": codes == [EXIT_PORT_LOST] * trials,
           "stderr_silent": all(r["stderr_bytes"] == 0 for r in results),
           "flow_intact": all(r["flow_intact"] for r in results)}
    log(f"   p50 {out['p50']:.0f}  p99 {out['p99']:.0f}  max {out['max']:.0f} ms, "
        f"exit codes {out['exit_codes']}, stderr {'empty' if out['stderr_silent'] else 'NOT empty'}")
    return out


if __name__ == "__main__":
    from run import run_parts
    run_parts([NAME])
