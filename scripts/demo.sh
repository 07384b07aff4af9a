#!/usr/bin/env bash
# The newcomer's first command: installs what is missing, builds both
# executables, and shows corvel doing its job under Wine on a simulated device.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
for preset in x32 x64; do
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset" > /dev/null
done
echo "Built: $(ls -l build/x64/corvel_x64.exe build/x32/corvel_x32.exe | awk '{print $NF " (" $5 " bytes)"}' | paste -sd ' ' -)"
exec python3 demo/demo.py
