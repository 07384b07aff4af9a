#!/usr/bin/env bash
# The whole test run from a fresh machine: installs what is missing, builds
# both executables and the tests, and runs every test through ctest: native
# unit tests, Win32 tests and black-box runs under Wine, static checks.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build.sh
ctest --preset all
