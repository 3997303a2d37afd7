#!/usr/bin/env bash
# Builds and runs the whole test suite: a release build, then the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the Python package's tests.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
for preset in release asan; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done

# The Python package, installed into build/venv as the README says; its tests compare
# containers with the release build's tool.
/usr/bin/python3 -m venv --system-site-packages build/venv
build/venv/bin/pip install --quiet --disable-pip-version-check --no-build-isolation --no-index --force-reinstall ./python
ORSK_BINARY=build/release/orsk build/venv/bin/python -m pytest -q -p no:cacheprovider python/tests
