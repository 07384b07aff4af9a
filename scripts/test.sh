#!/usr/bin/env bash
# The whole test run from a fresh machine: installs what is missing, builds
# both executables and the tests, and runs every test through ctest: native
# unit tests, Win32 tests and black-box runs under Wine, static checks, and
# corvel_x32.exe (with corvel_x64.exe as the control) in an emulated 64-bit
# guest, since this machine refuses 32-bit code (ctest entry x32.guest, which
# runs scripts/test-x32.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# The guest's image takes minutes to make on a fresh machine (downloads,
# mostly) and none on a warm one; it is made while this machine builds, at a
# lower priority. x32.guest waits for it (the image build holds a lock).
mkdir -p build
nice -n 10 bash scripts/test-x32.sh image > build/x32-image.log 2>&1 &
image=$!

bash scripts/build.sh
status=0
ctest --preset all || status=$?

if ! wait "$image"; then
  cat build/x32-image.log
  echo "test.sh: the 32-bit guest's image could not be made" >&2
  status=1
fi
exit "$status"
