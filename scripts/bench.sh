#!/usr/bin/env bash
# The benchmarks: installs what is missing, builds both executables, the test
# host and the empty yardstick program, then measures the bridge, the lookup
# and the sizes under Wine against their references (socat, the empty
# program). Writes bench/RESULTS.md, bench/results.json and bench/latency.png.
# Takes about 6 to 10 minutes; `scripts/bench.sh --quick` is a smoke run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# Bench-only packages: socat is the reference relay, matplotlib draws the plot
# (Debian's, so the bench runs with Debian's own python3).
bench_packages=(socat python3-matplotlib)
missing=()
for package in "${bench_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -q || echo "apt-get update reported a problem; continuing"
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
    "${missing[@]}" < /dev/null
fi

for preset in x32 x64; do
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset" > /dev/null
done

# The yardstick for the lookup: an empty program built like corvel.
mkdir -p build/bench
x86_64-w64-mingw32-g++-posix -Os -municode -static -s bench/empty.cpp -o build/bench/empty_x64.exe

exec /usr/bin/python3 bench/run.py --command "bash scripts/bench.sh${*:+ $*}" "$@"
