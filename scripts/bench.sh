#!/usr/bin/env bash
# The benchmarks: installs what is missing, builds both executables, the test
# host, the yardstick programs and the port model, then measures the bridge,
# the lookup and the sizes under Wine against their references (socat, the
# yardsticks, the model). Writes bench/RESULTS.md, bench/results.json and
# bench/latency.png. Takes about 6 to 9 minutes; `--only PART...` runs some
# parts (bench/parts/) and keeps the others' figures; `--quick` is a smoke run
# into build/bench-quick/.
set -euo pipefail
cd "$(dirname "$0")/.."

# Besides the build's packages: socat is the reference relay, matplotlib draws
# the plot (Debian's, so the bench runs with Debian's own python3).
bash scripts/install-deps.sh socat python3-matplotlib

for preset in x32 x64; do
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset" > /dev/null
done

# The yardsticks, built like corvel: an empty program for the lookup, and a
# program that runs only the bridge's polling loops for its idle CPU.
mkdir -p build/bench
x86_64-w64-mingw32-g++-posix -Os -municode -static -s bench/empty.cpp -o build/bench/empty_x64.exe
x86_64-w64-mingw32-g++-posix -Os -municode -static -s bench/idle_floor.cpp \
  -o build/bench/idle_floor_x64.exe
# Native: the pumps over the unit tests' model of Windows' port handle.
g++ -std=c++17 -O2 -pthread -Isrc -Itests/unit bench/port_model.cpp \
  tests/unit/bridge/port_model.cpp src/bridge/pump.cpp src/bridge/port_loss.cpp \
  -o build/bench/port_model

exec /usr/bin/python3 bench/run.py --command "bash scripts/bench.sh${*:+ $*}" "$@"
