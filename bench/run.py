#!/usr/bin/env python3
"""corvel's benchmarks: what the bridge and the lookup cost, measured side by
side with a reference in the same run, under Wine, on a pty as the device.

Each part is a module of bench/parts/ with a run() and can be run alone
(`python3 bench/parts/lookup.py`), or a few of them through
`bench/run.py --only lookup end`. A run of some parts keeps the figures of
the others from bench/results.json and names in RESULTS.md which run gave
which figures.

Nothing here asserts: every figure is printed, and written to
bench/RESULTS.md, bench/results.json and bench/latency.png.

Run through scripts/bench.sh, which builds what is needed first. --quick runs
the parts with small sizes (a smoke run of the harness itself) and writes to
build/bench-quick/ so that it never replaces the recorded figures.
"""

import argparse
import importlib
import json
import os
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import common  # noqa: E402
import report  # noqa: E402

# In the order they run and are numbered in RESULTS.md. The sizes come last
# in the report, as before, but they need no Wine and so run first.
PARTS = ["throughput", "latency", "idle", "end", "vanish", "lookup", "usb", "sizes"]
RUN_ORDER = ["sizes"] + PARTS[:-1]


def arguments(argv, only):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="small sizes: a smoke run")
    parser.add_argument("--only", nargs="+", choices=PARTS, metavar="PART",
                        help="run only these parts: " + ", ".join(PARTS))
    parser.add_argument("--out", help="folder for the results (bench/, or build/bench-quick/"
                        " with --quick)")
    parser.add_argument("--command", help="the command to name in the report")
    args = parser.parse_args(argv)
    args.only = args.only or only or PARTS
    if args.out is None:
        args.out = str(common.ROOT / "build" / "bench-quick" if args.quick else common.BENCH)
    if args.command is None:
        args.command = " ".join(["python3", os.path.relpath(sys.argv[0], common.ROOT),
                                 *sys.argv[1:]])
    elif args.quick and "--quick" not in args.command:
        args.command += " --quick"
    return args


def previous_results(path):
    """The figures of an earlier run in the same folder, which the parts not
    run now keep."""
    try:
        return json.loads(path.read_text())
    except FileNotFoundError:
        return {}


def run_parts(only=None, argv=None):
    args = arguments(argv, only)
    out_dir = pathlib.Path(args.out)
    out_dir.mkdir(parents=True, exist_ok=True)
    common.check_built()
    if "latency" in args.only:
        common.check_plotting()
    results = previous_results(out_dir / "results.json")
    machine = common.machine()
    results["machine"] = machine
    common.log(f"Machine: {machine['nproc']} cores, {machine['cpu']}, "
               f"Linux {machine['kernel']}, {machine['wine']}")
    started = time.monotonic()
    run_info = {"command": args.command, "date": common.utc_now(), "commit": machine["commit"],
                "quick": args.quick, "loadavg_start": machine["loadavg_start"]}
    done = []
    with common.wine_session() as prefix:
        run_info["other_wineservers"] = common.other_wineservers(prefix)
        for name in (name for name in RUN_ORDER if name in args.only):
            part_started = time.monotonic()
            part = importlib.import_module(f"parts.{name}").run(quick=args.quick)
            part["seconds"] = time.monotonic() - part_started
            # The 1-minute load average over the part: others' work on the
            # same two cores shows in every figure.
            part["loadavg_1min_end"] = os.getloadavg()[0]
            part["run"] = run_info
            results[name] = part
            done.append(name)
    run_info["session_s"] = time.monotonic() - started

    (out_dir / "results.json").write_text(json.dumps(results, indent=1) + "\n")
    if "latency" in done:
        report.plot(results["latency"], out_dir / "latency.png")
    report.write(results, PARTS, out_dir / "RESULTS.md")
    common.log(f"Done in {run_info['session_s'] / 60:.1f} min ({', '.join(done)}): "
               f"{out_dir / 'RESULTS.md'}, {out_dir / 'results.json'}")


if __name__ == "__main__":
    run_parts()
