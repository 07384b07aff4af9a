"""Makes the release archive as a release is made (cpack in the x64 build
folder), unpacks it and checks what a user gets: exactly the two executables,
the README, the LICENSE and SHA256SUMS; sums that match; executables equal to
the ones built, carrying the project version in their version resource;
every member dated at the commit's time (or SOURCE_DATE_EPOCH when set), so
that the archive is the same bytes whenever it is made.

usage: check_package.py BUILD_DIR VERSION"""

import hashlib
import os
import pathlib
import subprocess
import sys
import tempfile
import time
import zipfile


def fail(message):
    sys.exit(f"package: {message}")


def main():
    build, version = pathlib.Path(sys.argv[1]), sys.argv[2]
    with tempfile.TemporaryDirectory() as scratch:
        out = pathlib.Path(scratch)
        # Unsigned, as the executables built: the signing step has its own check.
        env = {k: v for k, v in os.environ.items() if not k.startswith("CORVEL_SIGN_")}
        subprocess.run(["cpack", "-B", str(out)], cwd=build, check=True, env=env,
                       stdout=subprocess.DEVNULL)
        archive = out / f"corvel-{version}-windows.zip"
        if not archive.exists():
            fail(f"no {archive.name} among {[p.name for p in out.iterdir()]}")
        top = f"corvel-{version}-windows/"
        expected = {"corvel_x64.exe", "corvel_x32.exe", "README.md", "LICENSE", "SHA256SUMS"}
        with zipfile.ZipFile(archive) as package:
            names = {n for n in package.namelist() if not n.endswith("/")}
            if names != {top + n for n in expected}:
                fail(f"contents {sorted(names)}, expected {sorted(expected)} below {top}")
            files = {n[len(top):]: package.read(n) for n in names}
            dates = {info.date_time for info in package.infolist()}
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or commit_time(build))
    # A ZIP member's date is local time, to the even second.
    expected_date = time.localtime(epoch - epoch % 2)[:6]
    if dates != {expected_date}:
        fail(f"member dates {sorted(dates)}, expected only {expected_date} (time {epoch})")

    listed = {}
    for line in files["SHA256SUMS"].decode("ascii").splitlines():
        digest, name = line.split("  ", 1)
        listed[name] = digest
    if set(listed) != expected - {"SHA256SUMS"}:
        fail(f"SHA256SUMS lists {sorted(listed)}")
    for name, digest in listed.items():
        if hashlib.sha256(files[name]).hexdigest() != digest:
            fail(f"sum of {name} does not match")

    built = {"corvel_x64.exe": build / "corvel_x64.exe",
             "corvel_x32.exe": pathlib.Path(read_cache(build, "CORVEL_X32_BUILD")) / "corvel_x32.exe"}
    for name, path in built.items():
        if files[name] != path.read_bytes():
            fail(f"{name} differs from the one built at {path}")
        if version.encode("utf-16-le") not in files[name]:
            fail(f"{name} does not carry version {version} in its version resource")
    print(f"package: corvel-{version}-windows.zip holds {sorted(expected)}; sums match")


def commit_time(build):
    source = read_cache(build, "CMAKE_HOME_DIRECTORY")
    return subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=source, check=True,
                          capture_output=True, text=True).stdout.strip()


def read_cache(build, name):
    for line in (build / "CMakeCache.txt").read_text().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    fail(f"{name} not in the build's cache")


if __name__ == "__main__":
    main()
