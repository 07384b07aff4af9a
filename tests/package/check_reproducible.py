"""Two clean builds of the current tree, in two folders of different names and
depths, must give the same corvel_x64.exe, corvel_x32.exe and release archive,
byte for byte, and the same executables as the build the tests ran on. That is
what lets a vendor check a download against a rebuild from source.

usage: check_reproducible.py SOURCE_DIR X64_BUILD X32_BUILD"""

import hashlib
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

NAMES = ["corvel_x64.exe", "corvel_x32.exe"]


def fail(message):
    sys.exit(f"reproducible: {message}")


def tree_files(source):
    """The files of the tree as it stands: tracked ones and new ones git does not ignore."""
    listed = subprocess.run(["git", "ls-files", "-z", "-co", "--exclude-standard"], cwd=source,
                            check=True, capture_output=True).stdout
    return [name for name in listed.decode().split("\0") if name and (source / name).is_file()]


def commit_time(source):
    return subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=source, check=True,
                          capture_output=True, text=True).stdout.strip()


def clean_build(source, files, folder, epoch):
    """Copies the tree into `folder`, builds both executables there without the
    tests and packs the release archive; returns {name: bytes}."""
    for name in files:
        target = folder / name
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source / name, target)
    quiet = {"check": True, "cwd": folder, "stdout": subprocess.DEVNULL}
    for preset in ["x32", "x64"]:
        subprocess.run(["cmake", "--preset", preset, "-DBUILD_TESTING=OFF"], **quiet)
        subprocess.run(["cmake", "--build", "--preset", preset], **quiet)
    # The copy has no history, so the time a release takes from the commit is
    # given as a rebuilding vendor's clone would find it.
    env = dict(os.environ, SOURCE_DATE_EPOCH=epoch)
    for variable in [v for v in env if v.startswith("CORVEL_SIGN_")]:
        del env[variable]
    subprocess.run(["cpack", "-B", str(folder / "release")], cwd=folder / "build/x64",
                   env=env, check=True, stdout=subprocess.DEVNULL)
    archives = list((folder / "release").glob("*.zip"))
    if len(archives) != 1:
        fail(f"{folder}: expected one archive, found {archives}")
    return {"corvel_x64.exe": (folder / "build/x64/corvel_x64.exe").read_bytes(),
            "corvel_x32.exe": (folder / "build/x32/corvel_x32.exe").read_bytes(),
            archives[0].name: archives[0].read_bytes()}


def main():
    source, x64_build, x32_build = (pathlib.Path(arg).resolve() for arg in sys.argv[1:4])
    files = tree_files(source)
    epoch = commit_time(source)
    with tempfile.TemporaryDirectory() as scratch:
        scratch = pathlib.Path(scratch)
        first = clean_build(source, files, scratch / "a", epoch)
        second = clean_build(source, files, scratch / "rebuild" / "of-corvel-elsewhere", epoch)
    faults = []
    for name, data in first.items():
        digest = hashlib.sha256(data).hexdigest()
        other = hashlib.sha256(second[name]).hexdigest()
        print(f"{name}: {digest} / {other}")
        if data != second[name]:
            faults.append(f"{name} differs between the two clean builds")
    tested = {"corvel_x64.exe": x64_build / "corvel_x64.exe",
              "corvel_x32.exe": x32_build / "corvel_x32.exe"}
    for name, path in tested.items():
        if path.read_bytes() != first[name]:
            faults.append(f"{name} of the clean builds differs from the tested one at {path}")
    for fault in faults:
        print(fault)
    if faults:
        fail(f"{len(faults)} differences")
    print("reproducible: both executables and the archive are byte-identical across builds")


if __name__ == "__main__":
    main()
