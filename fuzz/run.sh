#!/usr/bin/env bash
# Builds the PLY and XYZ fuzz targets with libFuzzer + ASan/UBSan and runs each
# for a bounded time over its seed corpus.
#   fuzz/run.sh [seconds-per-target]   (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-20}"
out=build/fuzz
mkdir -p "$out"
CXX="${CXX_FUZZ:-clang++}"
srcs=(core/io/numparse.cpp core/io/xyz.cpp core/io/ply.cpp core/numtext.cpp core/geometry/mesh.cpp
      core/geometry/geometry3d.cpp)
for target in ply xyz; do
  bin="$out/fuzz_$target"
  "$CXX" -std=c++20 -O1 -g -ffp-contract=off -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I. "fuzz/fuzz_$target.cpp" "${srcs[@]}" -o "$bin"
  work="$out/corpus_$target"
  mkdir -p "$work"
  # Fresh findings go to the work corpus; the checked-in seeds are read only.
  "$bin" -max_total_time="$secs" -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/crash_${target}_" "$work" "fuzz/corpus/$target" 2>&1 | tail -n 15
done
