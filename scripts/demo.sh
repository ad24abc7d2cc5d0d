#!/usr/bin/env bash
# Main job on a fresh machine: installs ombrix from this tree and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m pip install --quiet "scikit-build-core>=0.9" "numpy>=1.24" ninja cmake
python3 -m pip install --quiet --no-build-isolation .
rm -f src/ombrix/cpu/pybind*.so
cd /tmp && python3 -m ombrix demo "$@"
