"""What scripts/test-x32.sh takes from Debian's kernel package for its guest.

  kernel_parts.py modules TREE NAME...   the module files NAME... need, with
      every module they depend on, one path (relative to TREE, the folder of
      modules.dep) per line, each after its dependencies: the order to load them
  kernel_parts.py vmlinux BZIMAGE OUT    the uncompressed kernel inside the
      package's bzImage, an ELF file qemu boots directly; under emulation this
      saves the seconds the kernel would spend unpacking itself
"""

import lzma
import pathlib
import sys


def load_order(tree, names):
    depends = {}
    by_name = {}
    for line in (tree / "modules.dep").read_text().splitlines():
        module, _, rest = line.partition(":")
        depends[module] = rest.split()
        by_name[pathlib.Path(module).name.removesuffix(".ko").replace("-", "_")] = module
    order = []

    def visit(module):
        if module in order:
            return
        # modules.dep names the dependency loaded last first.
        for dependency in reversed(depends[module]):
            visit(dependency)
        order.append(module)

    for name in names:
        key = name.replace("-", "_")
        if key not in by_name:
            sys.exit(f"kernel_parts: no module {name} in {tree}")
        visit(by_name[key])
    return order


def vmlinux(bzimage):
    data = pathlib.Path(bzimage).read_bytes()
    start = data.find(b"\xfd7zXZ\x00")
    while start >= 0:
        try:
            kernel = lzma.LZMADecompressor().decompress(data[start:])
        except lzma.LZMAError:
            kernel = b""
        if kernel.startswith(b"\x7fELF"):
            return kernel
        start = data.find(b"\xfd7zXZ\x00", start + 1)
    sys.exit(f"kernel_parts: no xz-compressed ELF kernel in {bzimage}")


def main():
    command, *rest = sys.argv[1:]
    if command == "modules":
        print("\n".join(load_order(pathlib.Path(rest[0]), rest[1:])))
    elif command == "vmlinux":
        pathlib.Path(rest[1]).write_bytes(vmlinux(rest[0]))
    else:
        sys.exit(f"kernel_parts: unknown command {command}")


if __name__ == "__main__":
    main()
