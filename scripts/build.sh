#!/usr/bin/env bash
# Builds corvel_x64.exe and corvel_x32.exe (build/x64, build/x32) and, for the
# tests, the native unit tests (build/native) and the fuzz targets
# (build/fuzz). Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in native fuzz x32 x64; do
  cmake --preset "$preset" -DCORVEL_WERROR=ON > /dev/null
  cmake --build --preset "$preset"
done
