#!/usr/bin/env bash
# Runs tests against an AddressSanitizer + UBSan build of the extension.
#   scripts/asan-test.sh [pytest args...]     e.g. scripts/asan-test.sh tests/test_vectors.py
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/asan
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$PWD")}"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIX_SANITIZE=ON \
    -DPython_EXECUTABLE="$(command -v python3)" "${launcher[@]}" >/dev/null
fi
cmake --build "$dir" --target pybind
# A package tree next to the build whose extension is the sanitized one.
pkg="$dir/pkg"
rm -rf "$pkg" && mkdir -p "$pkg"
cp -r src/ombrix "$pkg/"
rm -f "$pkg"/ombrix/cpu/pybind*.so
ln -s "$(realpath "$dir"/pybind*.so)" "$pkg/ombrix/cpu/"
export PYTHONPATH="$(realpath "$pkg")" OMBRIX_NO_SRC=1
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
LD_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)" \
  python3 -m pytest -q -p no:cacheprovider "${@:-tests}"
