"""The bridge over a real USB link against the same bridge over a pty, both in
the emulated guest of scripts/test-x32.sh and measured alternately in one
guest run (tests/x32/usb_bench.py): throughput each way and device-to-host
latency. The guest prints its figures as a JSON line; this part boots it and
takes them."""

import json
import pathlib
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))  # bench/, when run alone
from common import ROOT, log  # noqa: E402

NAME = "usb"
TITLE = "real USB link against a pty, in the emulated guest"


def run(quick=False):
    log("Real USB link in the guest (boots it: a few minutes)")
    figures = ROOT / "build" / "x32-guest" / "usb-bench.json"
    figures.unlink(missing_ok=True)
    done = subprocess.run(["bash", str(ROOT / "scripts" / "test-x32.sh"), "--usb-bench"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    if done.returncode != 0 or not figures.exists() or not figures.read_text().strip():
        sys.exit("the guest gave no USB figures: see build/x32-guest/console.log")
    result = json.loads(figures.read_text())
    for kind in ("usb", "pty"):
        f = result[kind]
        log(f"   {kind}: device->host {f['down_mib_s']} MiB/s, host->device {f['up_mib_s']} MiB/s,"
            f" latency median {f['latency']['median_ms']} ms")
    return result


if __name__ == "__main__":
    from run import run_parts
    run_parts([NAME])
