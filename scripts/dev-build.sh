#!/usr/bin/env bash
# Fast incremental developer build: compiles the extension into build/dev and
# links it into src/ombrix/cpu so tests and scripts run against the tree.
#   scripts/dev-build.sh            release build (-O2)
#   (sanitizer build and tests: scripts/asan-test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/dev
if [ "${OMBRIX_SANITIZE:-0}" = 1 ]; then exec "$(dirname "$0")/asan-test.sh" "$@"; fi
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$PWD")}"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBRIX_BUILD_CORE_TESTS=ON \
    -DPython_EXECUTABLE="$(command -v python3)" "${launcher[@]}" >/dev/null
fi
cmake --build "$dir"
so=$(ls "$dir"/pybind*.so)
ln -sf "$(realpath "$so")" src/ombrix/cpu/"$(basename "$so")"
echo "built $so"
