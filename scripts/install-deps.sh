#!/usr/bin/env bash
# Installs, where missing, what building and testing corvel needs on Debian 12:
# CMake and Ninja, the native compiler and GoogleTest, MinGW-w64 for both word
# sizes, clang with libFuzzer, 64-bit Wine, npm (which installs Node.js for
# Windows for the tests), and osslsigncode with openssl for signing releases;
# and any further Debian packages named as arguments.
# Uses apt as root (or through sudo).
set -euo pipefail

packages=("$@"
  cmake ninja-build g++ libgtest-dev googletest python3 clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-i686
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 osslsigncode openssl
)
# Any working npm will do: a machine may have its own Node.js, which Debian's
# npm package would conflict with.
if ! command -v npm > /dev/null; then
  packages+=(nodejs npm)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
# A stale index on one mirror makes update exit non-zero; what it did fetch is
# still good, so go on and let the install itself decide.
"${sudo[@]}" apt-get update -q || echo "apt-get update reported a problem; continuing"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
  "${missing[@]}" < /dev/null
