#!/usr/bin/env bash
# Installs the build tools the project needs when they are missing (Debian/Ubuntu).
set -euo pipefail
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v g++ >/dev/null || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/xxhash.h ] || missing+=(libxxhash-dev)  # header-only, for checked containers
# The Python package (python/): Debian's interpreter with its headers, venv and pytest, and pybind11.
[ -f /usr/include/pybind11/pybind11.h ] || missing+=(pybind11-dev)
if [ -x /usr/bin/python3 ]; then
    /usr/bin/python3 -c 'import ensurepip, venv' 2>/dev/null || missing+=(python3-venv)
    /usr/bin/python3 -c 'import pytest' 2>/dev/null || missing+=(python3-pytest)
    /usr/bin/python3 -c 'import os, sysconfig; assert os.path.exists(sysconfig.get_paths()["include"] + "/Python.h")' \
        2>/dev/null || missing+=(python3-dev)
else
    missing+=(python3-dev python3-venv python3-pytest)
fi
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO=sudo
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
fi
