"""Writing the figures: RESULTS.md from results.json's content, and the
latency plot. Each part has its rows of the figures table and its paragraph
of how they are taken; a part not in the results is left out."""

from common import MIB, PUMP_PAUSE_MS, WINE_CLOCK_STEP_MS, met


def plot(latency, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(1, 2, figsize=(12, 4.8), sharey=True)
    colours = {"corvel defaults": "tab:blue", "corvel -1 0 0": "tab:orange",
               "corvel 0 1 0": "tab:green", "socat": "tab:grey"}
    for axis, direction in zip(axes, ("device->host", "host->device")):
        for case in latency["cases"]:
            if case["direction"] != direction or not case["samples_ms"]:
                continue
            values = sorted(case["samples_ms"])
            fractions = [(i + 1) / len(values) for i in range(len(values))]
            colour = colours.get(case["case"], "black")
            axis.step(values, fractions, where="post", color=colour,
                      label=f"{case['case']} (p50 {case['p50']:.2f}, p99 {case['p99']:.1f} ms)")
            if "bound_ms" in case:
                axis.axvline(case["bound_ms"], color=colour, linestyle=":", linewidth=1)
        axis.set_xscale("log")
        axis.set_xlabel("delay of one byte, ms (log scale); dotted: design bound")
        axis.set_title(direction)
        axis.grid(True, which="both", alpha=0.3)
        axis.legend(fontsize=8, loc="upper left")
    axes[0].set_ylabel("fraction of bytes delivered")
    figure.suptitle(f"corvel_x64.exe under Wine vs socat: 1-byte latency, "
                    f"{latency['rounds']} rounds each (pty device)")
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)


def table(header, align, lines):
    return "\n".join(["| " + " | ".join(header) + " |", "| " + " | ".join(align) + " |", *lines])


def cells(*values):
    return "| " + " | ".join(str(v) for v in values) + " |"


# --- Rows of the figures table, one function per part ------------------------

def throughput_rows(number, tp):
    for mode, runs in tp["runs"].items():
        for direction in ("up", "down"):
            if direction not in runs["corvel"]:
                continue
            ours, theirs = runs["corvel"][direction], runs["socat"][direction]
            ratio = ours["mib_per_s"] / theirs["mib_per_s"]
            label = "stdin->port" if direction == "up" else "port->stdout"
            ok = ours["sha256_ok"] and theirs["sha256_ok"]
            yield cells(f"{number}. Throughput, {mode}" + (f": {label}" if mode == "both at once" else ""),
                        f"{ours['mib_per_s']:.1f} MiB/s" + ("" if ours["sha256_ok"] else " (sha256 MISMATCH)"),
                        f"socat {theirs['mib_per_s']:.1f} MiB/s"
                        + ("" if theirs["sha256_ok"] else " (sha256 MISMATCH)"),
                        f"{ratio:.2f}", ">= 0.40 x socat", met(ratio >= 0.4 and ok))


def model_figure(latency, timeouts, direction, handle="one_at_a_time"):
    """The model's summary for a time-out set, direction and handle; None when
    the run had no model."""
    sets = latency.get("model", {}).get("sets", {})
    return sets.get(timeouts, {}).get(direction, {}).get(handle)


def model_said(figure):
    if figure is None:
        return "-"
    if not figure["count"]:
        return f"none of {figure['never']} bytes came out"
    return (f"p50 {figure['p50']:.1f} / p99 {figure['p99']:.1f} / max {figure['max']:.1f}"
            + (f", {figure['never']} never" if figure["never"] else ""))


def latency_rows(number, latency):
    socat = {c["direction"]: c for c in latency["cases"] if c["case"] == "socat"}
    for case in latency["cases"]:
        if case["case"] == "socat":
            continue
        ref = socat[case["direction"]]
        ok = case["p99"] <= case["bound_ms"] and case["lost"] == 0
        target = f"p99 <= {case['bound_ms']:.0f} ms (bound)"
        if case["direction"] == "host->device":
            ok = ok and case["p50"] < 2.0
            target += ", p50 < 2 ms"
        windows = model_figure(latency, case["timeouts"], case["direction"])
        yield cells(f"{number}. Latency {case['direction']}, {case['timeouts']}",
                    f"p50 {case['p50']:.2f} / p99 {case['p99']:.2f} / max {case['max']:.2f} ms"
                    + (f", {case['lost']} lost" if case["lost"] else ""),
                    f"socat p50 {ref['p50']:.3f} / p99 {ref['p99']:.3f} ms"
                    + (f"; Windows model {model_said(windows)} ms" if windows else ""),
                    f"p99 {case['p99'] / case['bound_ms']:.2f} x bound", target, met(ok))


def idle_rows(number, idle):
    for name, case in idle["cases"].items():
        if "floor" not in case:
            continue  # a run from before the floor was measured beside corvel
        ratio = case["ratio_to_floor"]
        yield cells(f"{number}. Idle CPU, {name}",
                    f"{case['process'] * 100:.3f} % of a core (process)",
                    f"the polling loops alone {case['floor'] * 100:.3f} % (same window); wineserver "
                    f"for both {case['wineserver_attributable_both'] * 100:.3f} % over its "
                    f"{idle['wineserver_baseline'] * 100:.3f} % with no bridge",
                    f"{ratio:.3f} x floor", "<= 1.05 x floor", met(ratio <= 1.05))


# (design, target in ms, whether p99 meets it, target in words) of each kind
# of host: one found by name is seen at the watcher's next look, an ancestor
# host is waited on.
END_TARGETS = {
    "host found by name": ("design: <= 500 ms watch + 50 ms poll", 600,
                           lambda p99: p99 < 600, "p99 < 600 ms"),
    "ancestor host": ("design: the host's end wakes the watcher + <= 50 ms poll", 150,
                      lambda p99: p99 <= 150, "p99 <= 150 ms"),
}


def end_rows(number, end):
    for case, figures in end["cases"].items():
        design, target_ms, meets, target = END_TARGETS[case]
        codes = ", ".join(str(code) for code in figures["exit_codes"])
        yield cells(f"{number}. End after the host dies, {case}",
                    f"p50 {figures['p50']:.0f} / p99 {figures['p99']:.0f} / max {figures['max']:.0f} ms "
                    f"({figures['trials']} trials; exit codes {codes})",
                    design, f"p99 {figures['p99'] / target_ms:.2f} x target", target,
                    met(meets(figures["p99"]) and figures["not_ended_within_10_s"] == 0))


def vanish_rows(number, vanish):
    codes = ", ".join(f"{code} x{count}" for code, count in vanish["exit_codes"].items())
    faults = [text for flag, text in ((vanish["all_exit_3"], "an exit code other than 3"),
                                      (vanish["stderr_silent"], "bytes on stderr"),
                                      (vanish["flow_intact"], "bytes lost before the device went"))
              if not flag]
    yield cells(f"{number}. End after the device vanishes",
                f"p50 {vanish['p50']:.0f} / p99 {vanish['p99']:.0f} / max {vanish['max']:.0f} ms "
                f"({vanish['trials']} trials); exit codes {codes}; stderr "
                + ("empty in every trial" if vanish["stderr_silent"] else "**not empty**"),
                "design: <= 200 ms status cycle + 100 ms confirmation",
                f"p99 {vanish['p99'] / 1000:.2f} x target", "p99 < 1 s, exit code 3, nothing on stderr",
                met(vanish["p99"] < 1000 and not faults) + "".join(f"; {f}" for f in faults))


def list_result(lk):
    """What came of listUSBPorts, in words: a build without the command ends
    it like any unknown command, and that must show as such."""
    codes = lk["list_ms"]["exit_codes"]
    said = ", ".join(f"exit code {code} in {count} of {lk['runs']} runs" for code, count in codes.items())
    if lk["list_answer_correct"]:
        return said, "answer correct (no time target)"
    lines = lk["list_answer_lines"]
    if codes.keys() - {"0"} or lines == [0]:
        return (said + ("" if lines != [0] else ", no output"),
                "**not in this build** (an unknown command is ignored)" if codes.keys() == {"0"}
                else "**fails**")
    return said + f", {'/'.join(map(str, lines))} lines", "**wrong answer**"


def lookup_rows(number, lk):
    others, count = f"{lk['other_devices']:,}", lk.get("timed_instances", 50)
    yield cells(f"{number}. getUSBPort, {count} instances among {others} devices",
                f"median {lk['lookup_ms']['median']:.1f} ms"
                + ("" if lk["lookup_answer_correct"] else " (WRONG answer)"),
                f"empty program {lk['empty_ms']['median']:.1f} ms (corvel with no arguments "
                f"{lk['corvel_no_arguments_ms']['median']:.1f} ms, absent device "
                f"{lk['lookup_absent_device_ms']['median']:.1f} ms)", f"{lk['ratio']:.3f}",
                f"ratio <= {lk['max_ratio']} (no target on the time itself: most of it is "
                "Wine loading ADVAPI32)",
                met(lk["ratio"] <= lk["max_ratio"]) if lk["lookup_answer_correct"]
                else "**wrong answer**")
    said, result = list_result(lk)
    yield cells(f"{number}. listUSBPorts, {count} ports among {others} devices",
                f"median {lk['list_ms']['median']:.1f} ms; {said}",
                f"getUSBPort of the {count}-instance device {lk['lookup_ms']['median']:.1f} ms "
                "(same runs)", f"{lk['list_ratio_to_lookup']:.2f} x getUSBPort", "-", result)
    now, before = lk["calls"][-1], lk["calls_before"]
    before_last = before["calls"][-1]
    growth = lk["most_calls_per_added_instance"]
    most = lk.get("max_calls_per_added_instance", 12)
    yield cells(f"{number}. Registry calls of one getUSBPort",
                f"{now['registry_calls']:,} at {now['instances']} instances; at most "
                f"{growth:.1f} more per added instance",
                f"before (recorded at {before['commit']}): {before_last['registry_calls']:,} at "
                f"{before_last['instances']}; at most {lk['most_calls_per_added_instance_before']:.1f}"
                " more per added instance",
                f"{now['registry_calls'] / before_last['registry_calls']:.2f} x before",
                f"<= {most} more per added instance", met(growth <= most))


def sizes_rows(number, sizes):
    files = sizes["files"]
    for name, facts in files.items():
        if name.startswith("corvel"):
            yield cells(f"{number}. Size, {name}", f"{facts['bytes']:,} bytes ({facts['bytes'] / 1024:.1f} KiB)"
                        + ("" if facts["stripped"] else ", not stripped"),
                        f"empty program {files['empty program (x64)']['bytes']:,} bytes",
                        f"{facts['bytes'] / 65536:.2f} x target", "<= 64 KiB", met(facts["bytes"] <= 65536))


# --- Sections in detail -----------------------------------------------------

def latency_section(latency):
    lines = []
    for c in latency["cases"]:
        models = [model_said(model_figure(latency, c["timeouts"], c["direction"], handle))
                  if c["timeouts"] else "-" for handle in ("one_at_a_time", "both_at_once")]
        lines.append(f"| {c['case']} | {c['direction']} | {c['p50']:.3f} | {c['p99']:.3f} | "
                     f"{c['max']:.3f} | {c['mean']:.3f} | "
                     f"{c.get('bound_ms', float('nan')):.0f} | {models[0]} | {models[1]} |"
                     .replace("| nan |", "| - |"))
    return f"""## Latency in detail

One byte at a time, {latency['rounds']} rounds per direction and case, each after a
random pause of 0 to 20 ms so that bytes meet the pumps at every point of their cycle. The
bound is the read time-out + the {PUMP_PAUSE_MS:.0f} ms pause after an empty read + one step of
Wine's clock ({WINE_CLOCK_STEP_MS:.0f} ms). Time-out sets are the arguments after the port
number: defaults (read interval 0, read constant 10 ms), `-1 0 0` (reads return at once),
`0 1 0` (read constant 1 ms). Distributions: `latency.png`.

{table(["Case", "Direction", "p50 ms", "p99 ms", "max ms", "mean ms", "Bound ms",
        "Model, one at a time (Windows), ms", "Model, both at once (as Wine), ms"],
       ["---", "---", "---:", "---:", "---:", "---:", "---:", "---", "---"], lines)}

{model_section(latency) if "model" in latency else ""}
![latency distributions](latency.png)
"""


def model_section(latency):
    model = latency["model"]
    lines = [f"| {label} | {direction} | {model_said(handles['one_at_a_time'])} | "
             f"{model_said(handles['both_at_once'])} |"
             for label, directions in model["sets"].items()
             for direction, handles in directions.items()]
    return f"""### What Windows would make of it

Wine lets one thread write the port while another thread's read of it waits
out its time-out; Windows runs the requests on a handle opened without
`FILE_FLAG_OVERLAPPED` one at a time, so there the host's byte waits for the
read in progress. Nothing measured here can show that, so the two right-hand
columns above, and this table, come from the pumps' model instead: the real pump loops,
natively, over a port that keeps the time-out rules, in virtual time
(`tests/unit/bridge/port_model.h`, run by `build/bench/port_model`). Each set is run
once with one request at a time (Windows) and once with both at once (as Wine), with
{model['rounds']} bytes per direction, each at another point of the pumps' cycle;
"never" counts bytes that did not come out within the run. The "as Wine" column is the
model's check against what Wine measured.

{table(["Time-outs", "Direction", "One at a time (Windows), ms", "Both at once (as Wine), ms"],
       ["---", "---", "---", "---"], lines)}
"""


def lookup_section(lk):
    before = {entry["instances"]: entry["registry_calls"] for entry in lk["calls_before"]["calls"]}
    lines = [f"| {e['instances']} | {before.get(e['instances'], '-')} | {e['registry_calls']} | "
             + ", ".join(f"{k} {v}" for k, v in sorted(e["by_function"].items())) + " |"
             for e in lk["calls"]]
    first, last = lk["calls"][0], lk["calls"][-1]
    slope = ((last["registry_calls"] - first["registry_calls"])
             / max(1, last["instances"] - first["instances"]))
    return f"""## Registry calls of one lookup

Counted from Wine's relay trace (`WINEDEBUG=+relay`): `Reg*` calls into advapi32/kernelbase
whose return address lies in corvel_x64.exe (calls, not returns), with the
{lk['other_devices']:,} other devices present and the serial-port map holding exactly the
looked-up device's ports. Growth from {first['instances']} to {last['instances']} instances:
{slope:.1f} calls per added instance on average, at most {lk['most_calls_per_added_instance']:.1f}
between two neighbouring rows. "Before" is not measured by this run: it is the count this
benchmark recorded at commit {lk['calls_before']['commit']} ({lk['calls_before']['date']}), when
getUSBPort read the serial-port map again for every instance it found.

{table(["Instances", f"Before (recorded, {lk['calls_before']['commit']})", "Registry calls now",
        "Now, by function"], ["---:", "---:", "---:", "---"], lines)}

Where the lookup's time goes (medians): the empty program {lk['empty_ms']['median']:.1f} ms;
corvel with no arguments, which loads and ends at once, {lk['corvel_no_arguments_ms']['median']:.1f} ms
(+{lk['corvel_no_arguments_ms']['median'] - lk['empty_ms']['median']:.1f} ms: corvel imports ADVAPI32, which
Wine loads with its own dependencies, the empty program imports only KERNEL32 and msvcrt); a
lookup of an absent device {lk['lookup_absent_device_ms']['median']:.1f} ms; the {lk['timed_instances']}-instance lookup
{lk['lookup_ms']['median']:.1f} ms (+{lk['lookup_ms']['median'] - lk['corvel_no_arguments_ms']['median']:.1f} ms over loading);
listUSBPorts, which reads the same tree for every device, {lk['list_ms']['median']:.1f} ms.
{function_keys_paragraph(lk)}"""


def function_keys_paragraph(lk):
    """What finding composite devices' function keys costs per getUSBPort call,
    whatever the instance count."""
    if "function_key_calls" not in lk:
        return ""
    before = lk["calls_before_function_keys"]
    now = next(e for e in lk["calls"] if e["instances"] == before["instances"])
    return f"""
Finding the function keys of composite devices (`VID_vvvv&PID_pppp&MI_xx`, beside the device's
own key; {lk['composite_other_devices']} of the other devices are composite, with two function keys
each, so the USB tree holds {lk['tree_keys']:,} keys): {lk['function_key_calls']:,} registry calls
per getUSBPort call, whatever the instance count, included in the counts above. The calls on the
tree's key: its opening, its key count, then one `RegOpenKeyExW` for each of the 256 names a
function key of the device can have (fewer calls than one `RegEnumKeyW` per key of the tree; a
call looking up more identifiers walks the tree once instead when that costs fewer), and the
close. At {before['instances']} instances the count went from {before['registry_calls']} (recorded
at commit {before['commit']}, before composite devices were looked for) to {now['registry_calls']:,}.
"""


# --- How each figure is taken -----------------------------------------------

def throughput_how(tp):
    return f"""Throughput: {tp['bytes_per_direction'] // MIB} MiB of seeded random bytes per direction, best of
   {tp['repeats']} runs each (corvel and socat alternated; all runs are in results.json),
   host side through pipes on stdin/stdout, device side on the pty master; time from the first
   write to the last byte received; content checked by sha256 (up `{tp['sha256_up'][:16]}...`,
   down `{tp['sha256_down'][:16]}...`). A fresh relay per run, started and settled (one probe
   byte through) before the clock starts."""


def latency_how(latency):
    return "Latency: as above; a byte not delivered within 2 s counts as lost."


def idle_how(idle):
    return f"""Idle CPU: corvel and the floor of its design run side by side, each on a pty of
   its own with the same time-outs, for {idle['window_s']:.0f} s; each one's time on a CPU is
   the sum of its threads' scheduler counts (`/proc/<pid>/task/*/schedstat`, nanoseconds) of
   the Linux process that `wine64` became. The floor (`bench/idle_floor.cpp`, built like
   corvel) runs only the polling loops the bridge is built on: a 10 ms pause after each empty
   read of stdin and of the port (4096-byte reads with the port's read time-outs), a status
   query every 200 ms, the process list every 500 ms, the main thread every 50 ms; no
   port-loss watch and nothing else of corvel's. The wineserver's share (its CPU in the same
   window less its rate over {idle['baseline_s']:.0f} s with the host alive and no bridge) serves
   both and is given for the two together. Default time-outs, and once with `0 200 0` (read
   constant 200 ms) to show what the port reads cost."""


def end_how(end):
    return """End: host found by name: host started, bridge started beside it (by the bench) and
   settled, host killed at a random point of the watcher's 500 ms cycle; delay from the host's
   reaping to the bridge's exit (pidfd). Ancestor host: `corvel_pipe_host.exe`, run as
   `benchhost.exe`, starts corvel with `open benchhost.exe` through pipes (CreateProcess, no job
   object, as Python's subprocess or .NET's Process do); bridge settled through the host, host
   killed after a random pause of 0 to 500 ms; delay from the host's reaping to the exit of
   corvel's Linux process (a pidfd; corvel is not the bench's child), its exit code from a
   Windows process that holds corvel's handle."""


def vanish_how(vanish):
    return f"""End after the device vanishes: a fresh pty behind the COM port and a fresh bridge per
   trial, settled, then {vanish['flow_bytes_each_way'] // 1024} KiB of seeded random bytes each way
   (checked on arrival), then after a random pause within the bridge's 200 ms status cycle the
   device vanishes (`PtyPort.vanish()`: the pty master closes and the COM name goes; in half
   the trials the pty's slave end is still held elsewhere, in half not). Delay from the vanish
   to the bridge's exit (pidfd); its exit code and its stderr are kept for every trial."""


def other_devices_said(lk):
    composite = lk.get("composite_other_devices", 0)
    if not composite:
        return "2 keys each"
    return (f"{lk['other_devices'] - composite:,} with 2 keys each, {composite} composite ones "
            "with an instance key and two function keys of 2 keys each beside their own")


def lookup_how(lk):
    return f"""getUSBPort: wall time of `wine64 corvel_x64.exe getUSBPort {lk['identifier']}` against
   `wine64 empty_x64.exe`, {lk['runs']} runs each, interleaved (with `listUSBPorts`, corvel with no
   arguments and a lookup of an absent device), after 2 warm-up runs; medians. The registry
   holds {lk['other_devices']:,} other USB devices ({other_devices_said(lk)}) and the looked-up device with
   {lk['timed_instances']} instances, all in the serial-port map; both answers ({lk['timed_instances']} lines; the
   listing's in any order) are checked. Registry calls: see above."""


def usb_rows(number, usb):
    for label, key, better in (("device to host", "down_mib_s", "higher"),
                               ("host to device", "up_mib_s", "higher")):
        yield cells(f"{number}. Throughput over real USB, {label} (guest)",
                    f"{usb['usb'][key]:.2f} MiB/s", f"pty in the same guest: {usb['pty'][key]:.2f} MiB/s",
                    f"{usb[key + '_ratio']:.2f} x pty", "figure only", "-")
    u, p = usb["usb"]["latency"], usb["pty"]["latency"]
    yield cells(f"{number}. Device-to-host latency over real USB (guest)",
                f"p50 {u['median_ms']:.1f} / p90 {u['p90_ms']:.1f} / max {u['max_ms']:.1f} ms",
                f"pty in the same guest: p50 {p['median_ms']:.1f} / p90 {p['p90_ms']:.1f} / "
                f"max {p['max_ms']:.1f} ms", f"{usb['latency_median_ratio']:.2f} x pty (p50)",
                "figure only", "-")


def usb_how(usb):
    return f"""Real USB link: `scripts/test-x32.sh --usb-bench` boots the emulated guest (qemu TCG,
   Linux {usb['kernel']}) and runs `tests/x32/usb_bench.py` there: `corvel_x64.exe` under the guest's
   Wine 8, default time-outs, bridging a gadget with a CDC ACM function on the kernel's emulated
   USB controller pair (dummy_hcd; cdc_acm's ttyACM as the COM port), and beside it the same
   bridge on a pty. {usb['rounds']} rounds, alternating the two: {usb['bytes'] // (1 << 20)} MiB of seeded random bytes
   device to host (until the last is on stdout) and host to device (until the device has the last,
   sha256 checked), medians; then one byte at a time from the device after a random pause of
   0-30 ms, {usb['pty']['latency']['count']} pings per device, until it is on stdout. Everything
   runs emulated, so the absolute figures are far below this machine's; the ratio is the point."""


def sizes_how(sizes):
    return 'Sizes: file sizes of the release builds; "stripped" means no COFF symbol table.'


PARTS = {
    "throughput": (throughput_rows, throughput_how, None),
    "latency": (latency_rows, latency_how, latency_section),
    "idle": (idle_rows, idle_how, None),
    "end": (end_rows, end_how, None),
    "vanish": (vanish_rows, vanish_how, None),
    "lookup": (lookup_rows, lookup_how, lookup_section),
    "usb": (usb_rows, usb_how, None),
    "sizes": (sizes_rows, sizes_how, None),
}


# --- The page ---------------------------------------------------------------

def provenance(results, present):
    """Which run gave which part's figures, newest run first; and how many
    runs that was."""
    runs = {}
    for name in present:
        info = results[name]["run"]
        runs.setdefault((info["date"], info["command"], info["commit"]), (info, []))[1].append(name)
    ordered = sorted(runs.values(), key=lambda entry: entry[0]["date"], reverse=True)

    def said(info):
        return (f"`{info['command']}` on {info['date']} (commit {info['commit']}), in "
                f"{info['session_s'] / 60:.1f} minutes; load average at start "
                f"{', '.join(f'{x:.2f}' for x in info['loadavg_start'])}; other Wine sessions "
                f"running beside it: {info['other_wineservers']}")

    if len(ordered) == 1:
        return f"Produced by {said(ordered[0][0])}.", 1
    return ("Produced by several runs, newest first; each part's figures come from one run:\n\n"
            + "\n".join(f"- {', '.join(names)}: {said(info)}." for info, names in ordered),
            len(ordered))


def write(results, order, path):
    present = [name for name in order if name in results]
    m = results["machine"]
    rows, hows, sections = [], [], []
    for name in present:
        rows_of, how_of, section_of = PARTS[name]
        number = order.index(name) + 1
        rows.extend(rows_of(number, results[name]))
        hows.append(f"{number}. {how_of(results[name])}")
        if section_of:
            sections.append(section_of(results[name]))
    loads = ", ".join(f"{name} {results[name]['loadavg_1min_end']:.1f}" for name in present
                      if name != "sizes")
    origin, runs = provenance(results, present)
    text = f"""# corvel benchmarks

{origin}

Machine{" (as the newest run saw it)" if runs > 1 else ""}: {m['nproc']} cores, {m['cpu']}, Linux {m['kernel']}, {m['os']}, {m['wine']}
(64-bit, `wine64`, `WINEDEBUG=-all`, one throwaway prefix per run), socat {m['socat']}, Python {m['python']}.
1-minute load average at the end of each part: {loads}
(2 cores: above 2, other work competed with the bench).

corvel is `build/x64/corvel_x64.exe` (MinSizeRel, stripped) under Wine; the serial device
is a Linux pty behind `COM<n>`, played by the bench on the master side; the host is a real
Windows process (`corvel_test_host.exe`). The references run in the same session, on the
same kind of pty, with the same data: `socat -b 4096 STDIO <pty slave>,raw,echo=0`
natively, an empty console program built like corvel (`bench/empty.cpp`), and a program
built like corvel that runs only the polling loops of the bridge (`bench/idle_floor.cpp`).
What Windows would make of the latency comes from the pumps' model of its port handle,
run natively in virtual time (`bench/port_model.cpp`).

## Figures

{table(["What", "corvel", "Reference", "Ratio", "Target", "Result"], ["---"] * 6, rows)}

{chr(10).join(sections)}
## How each figure is taken

{chr(10).join(hows)}
"""
    path.write_text(text)
