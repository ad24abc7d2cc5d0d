#!/usr/bin/env bash
# Runs the whole test suite on a fresh machine: installs the build and test
# dependencies, installs ombrix from this tree, builds and runs the C++ core
# tests, then runs pytest against the installed package.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m pip install --quiet --upgrade pip >/dev/null 2>&1 || true
python3 -m pip install --quiet "scikit-build-core>=0.9" "numpy>=1.24" pytest ninja cmake mypy typing_extensions
python3 -m pip install --quiet --no-build-isolation .

# C++ tests of core-only pieces.
cmake -S . -B build/core-tests -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBRIX_BUILD_EXTENSION=OFF \
  -DOMBRIX_BUILD_CORE_TESTS=ON >/dev/null
cmake --build build/core-tests
ctest --test-dir build/core-tests --output-on-failure

# Python tests run against the installed package, not the source tree.
rm -f src/ombrix/cpu/pybind*.so
python3 -m pytest -q -p no:cacheprovider tests "$@"
