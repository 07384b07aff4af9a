"""The tests inside the emulated guest of scripts/test-x32.sh: corvel_x32.exe
through Wine's 32-bit loader, and corvel_x64.exe through the 64-bit one as the
control, each against the same black-box suites and its own build of the
Win32 tests, all in one 64-bit prefix made once; then the registry view test
with both; then both against the real USB device (test_usb.py). Prints a line
per step with its time and result, a summary at the end, the USB checks'
status on a line of its own, and exits non-zero when any 32-bit check failed
(with only the USB checks run: when any of them failed).

Usage: run_guest.py DISK ci|full|usb|usb-bench, where DISK holds tests/wine and
the folders x32 and x64 with each build's corvel, test host and Win32 test
binary. usb: only the USB checks; usb-bench: only the figures of
usb_bench.py, no checks.
"""

import os
import pathlib
import subprocess
import sys
import time

# What each executable runs, by word size. CI's share keeps the guest part
# to some eight minutes of emulation: for corvel_x32.exe what a second word
# size could break (dispatch and exit codes, the registry reads and the text
# bytes, the bridge's bytes, its end with the host and its refusals); for the
# control, corvel_x64.exe, whose suites all run natively on this machine, the
# dispatch and the bridge, which show the guest's Wine and ptys are sound. The
# registry view test runs both in any case. Timing-bound checks (latency
# shapes) and the soaks stay on this machine. "full" runs the suites whole.
BRIDGE_SHARE = ["-k", "BytesPassUnchanged", "-k", "test_ends_soon_after_the_host_is_killed",
                "-k", "RefusesUnusablePorts"]
FULL = [(suite, []) for suite in
        ("dispatch", "lookup", "machine_id", "bridge", "device_loss", "storm", "registry_torture")]
# The signed corvel_x32.exe (scripts/test-x32.sh signs it) against the unsigned one.
SIGNED = [("signed", [])]
SUITES = {
    "ci": {
        "x32": [("dispatch", []), ("lookup", []),
                ("machine_id", ["-k", "test_value_at_the_version_key"]),
                ("bridge", BRIDGE_SHARE)] + SIGNED,
        "x64": [("dispatch", []), ("bridge", BRIDGE_SHARE)],
    },
    "full": {"x32": FULL + SIGNED, "x64": FULL},
    "usb": {"x32": [], "x64": []},
}
# Where the USB checks run: after the 32-bit checks in the same boot.
WITH_USB = {"ci", "full", "usb"}

# word size: (executable, Wine loader)
PROGRAMS = {
    "x32": ("corvel_x32.exe", "/usr/lib/wine/wine"),
    "x64": ("corvel_x64.exe", "/usr/lib/wine/wine64"),
}

results = []  # (step, word size, seconds, passed, part: "x32" or "usb")


def step(name, arch, command, env, part="x32"):
    print(f"corvel-x32: --- {name} ({arch}) ---", flush=True)
    started = time.monotonic()
    # Output through a pipe: on the console itself Wine's console emulation
    # would wrap a Windows program's every character in cursor sequences.
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT)
    for line in process.stdout:
        sys.stdout.buffer.write(line)
        sys.stdout.flush()
    passed = process.wait() == 0
    seconds = time.monotonic() - started
    results.append((name, arch, seconds, passed, part))
    print(f"corvel-x32: {name} ({arch}) {'passed' if passed else 'FAILED'} in {seconds:.1f} s",
          flush=True)


def main():
    disk = pathlib.Path(sys.argv[1])
    share = sys.argv[2]
    wine_tests = disk / "tests" / "wine"
    sys.path.insert(0, str(wine_tests))
    import winebed

    with open("/proc/uptime") as uptime:
        print(f"corvel-x32: guest up {float(uptime.read().split()[0]):.1f} s after its boot",
              flush=True)
    with open("/proc/version") as version:
        print("corvel-x32: guest kernel", version.read().strip(), flush=True)
    print("corvel-x32:", subprocess.run([winebed.WINE64, "--version"], capture_output=True,
                                        text=True).stdout.strip(), flush=True)

    prefix = pathlib.Path("/tmp/corvel-prefix")
    started = time.monotonic()
    # Emulated, on a machine others load as well, Wine's set-up has taken
    # from 40 s to beyond the test bed's usual 300 s.
    winebed.create_prefix(prefix, timeout=900)
    prefix_seconds = time.monotonic() - started
    print(f"corvel-x32: prefix made in {prefix_seconds:.1f} s", flush=True)
    if share in WITH_USB or share == "usb-bench":
        load_usb()

    try:
        if share == "usb-bench":
            env = winebed.wine_env(prefix)
            env.update(CORVEL_EXE=str(disk / "x64" / PROGRAMS["x64"][0]),
                       CORVEL_TEST_HOST=str(disk / "x64" / "corvel_test_host.exe"))
            step("usb bench", "x64", [sys.executable, str(disk / "usb_bench.py")], env, "usb")
            return report(prefix_seconds)
        for arch, (exe, loader) in PROGRAMS.items():
            if not SUITES[share][arch]:
                continue
            folder = disk / arch
            env = program_env(prefix, folder, exe, loader)
            step("win32 tests", arch, [loader, str(folder / "corvel_win_tests.exe")], env)
            for suite, selection in SUITES[share][arch]:
                step(suite, arch, [sys.executable, str(wine_tests / f"test_{suite}.py"), "-v",
                                   *selection], env)
        if share != "usb":
            env = winebed.wine_env(prefix)
            env.update(CORVEL_X64_EXE=str(disk / "x64" / PROGRAMS["x64"][0]),
                       CORVEL_X32_EXE=str(disk / "x32" / PROGRAMS["x32"][0]))
            step("registry_view", "both", [sys.executable,
                                           str(wine_tests / "test_registry_view.py"), "-v"], env)
        if share in WITH_USB:
            for arch, (exe, loader) in PROGRAMS.items():
                step("usb", arch, [sys.executable, str(wine_tests / "test_usb.py"), "-v"],
                     program_env(prefix, disk / arch, exe, loader), "usb")
    finally:
        winebed.destroy_prefix(prefix)
    return report(prefix_seconds)


def load_usb():
    """The real USB device's parts, once Wine's prefix is made. With the
    emulated USB controller loaded before it, Wine's set-up took 300 s and
    more in four runs of five (on a machine busy with other work as well),
    and in one of them every 32-bit program then ended with exit status 53
    (STATUS_DLL_NOT_FOUND); and Wine maps every ttyACM present when its
    prefix starts as a COM port of its own. Gadgets are made in configfs;
    configfs is there once its module is loaded."""
    started = time.monotonic()
    subprocess.run(["modprobe", "-a", "dummy_hcd", "libcomposite", "usb_f_acm", "usb_f_serial",
                    "cdc_acm", "usbmon"], check=True)
    subprocess.run(["mount", "-t", "configfs", "configfs", "/sys/kernel/config"], check=True)
    print(f"corvel-x32: USB modules loaded in {time.monotonic() - started:.1f} s", flush=True)


def program_env(prefix, folder, exe, loader):
    import winebed  # from the test disk, on the path main() set
    env = winebed.wine_env(prefix)
    env.update(CORVEL_EXE=str(folder / exe), CORVEL_WINE_LOADER=loader,
               CORVEL_TEST_HOST=str(folder / "corvel_test_host.exe"),
               CORVEL_SIGNED_EXE=str(folder / exe.replace(".exe", ".signed.exe")))
    return env


def report(prefix_seconds):
    print("corvel-x32: summary", flush=True)
    print(f"corvel-x32:   {'prefix (wineboot -i)':<22} {'':<5} {prefix_seconds:7.1f} s")
    for name, arch, seconds, passed, _ in results:
        print(f"corvel-x32:   {name:<22} {arch:<5} {seconds:7.1f} s  {'ok' if passed else 'FAILED'}")
    failed = [f"{name} ({arch})" for name, arch, _, passed, _ in results if not passed]
    print(f"corvel-x32: {len(results) - len(failed)} passed, {len(failed)} failed", flush=True)
    parts = {part for *_, part in results}
    usb_failed = [name for name, _, _, passed, part in results if part == "usb" and not passed]
    if "usb" in parts:
        usb_seconds = sum(seconds for _, _, seconds, _, part in results if part == "usb")
        print(f"corvel-x32: usb status {1 if usb_failed else 0} ({usb_seconds:.1f} s)", flush=True)
    if parts == {"usb"}:
        return 1 if usb_failed else 0
    x32_failed = [name for name, _, _, passed, part in results if part == "x32" and not passed]
    return 1 if x32_failed else 0


if __name__ == "__main__":
    sys.exit(main())
