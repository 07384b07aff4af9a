"""The README shows the host examples as they are in examples/: each file is
linked in the README, and the first fenced block after the link must be the
file, byte for byte. The Python example, which cannot run here,
must at least compile."""

import difflib
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ["examples/node/host.js", "examples/python/host.py", "examples/csharp/Program.cs"]


def shown_block(readme_lines, path):
    """The text of the first fenced block after the line linking `path`, or
    None. Only prose may stand between them, no heading."""
    link = f"]({path})"
    for index, line in enumerate(readme_lines):
        if link not in line:
            continue
        rest = readme_lines[index + 1:]
        while rest and not rest[0].startswith(("```", "#")):
            rest = rest[1:]
        if not rest or not rest[0].startswith("```"):
            return None
        body = rest[1:]
        end = next((n for n, text in enumerate(body) if text.startswith("```")), None)
        return None if end is None else "".join(body[:end])
    return None


def main():
    readme = (ROOT / "README.md").read_text(encoding="utf-8").splitlines(keepends=True)
    faults = []
    for path in EXAMPLES:
        text = (ROOT / path).read_text(encoding="utf-8")
        shown = shown_block(readme, path)
        if shown is None:
            faults.append(f"README.md: no block after a link to {path}")
        elif shown != text:
            diff = difflib.unified_diff(text.splitlines(keepends=True), shown.splitlines(keepends=True),
                                        path, f"README.md's block of {path}")
            faults.append("".join(diff))
    try:
        compile((ROOT / "examples/python/host.py").read_text(encoding="utf-8"), "host.py", "exec")
    except SyntaxError as error:
        faults.append(f"examples/python/host.py does not compile: {error}")
    for fault in faults:
        print(fault)
    print(f"{len(EXAMPLES)} examples checked, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
