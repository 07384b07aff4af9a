#!/usr/bin/env bash
# The benchmarks: installs what is missing, builds both executables, the test
# host and the empty yardstick program, then measures the bridge, the lookup
# and the sizes under Wine against their references (socat, the empty
# program). Writes bench/RESULTS.md, bench/results.json and bench/latency.png.
# Takes about 6 to 9 minutes; `--only PART...` runs some parts (bench/parts/)
# and keeps the others' figures; `--quick` is a smoke run into build/bench-quick/.
set -euo pipefail
cd "$(dirname "$0")/.."

# Besides the build's packages: socat is the reference relay, matplotlib draws
# the plot (Debian's, so the bench runs with Debian's own python3).
bash scripts/install-deps.sh socat python3-matplotlib

for preset in x32 x64; do
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset" > /dev/null
done

# The yardstick for the lookup: an empty program built like corvel.
mkdir -p build/bench
x86_64-w64-mingw32-g++-posix -Os -municode -static -s bench/empty.cpp -o build/bench/empty_x64.exe

exec /usr/bin/python3 bench/run.py --command "bash scripts/bench.sh${*:+ $*}" "$@"
