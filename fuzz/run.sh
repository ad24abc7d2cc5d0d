#!/usr/bin/env bash
# Builds the PLY and XYZ fuzz targets with libFuzzer + ASan/UBSan and runs each
# for a bounded time over its seed corpus. Exits non-zero on any finding.
#   fuzz/run.sh [seconds-per-target]   (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-20}"
out=build/fuzz
mkdir -p "$out/obj"
CXX="${CXX_FUZZ:-clang++}"
flags=(-std=c++20 -O1 -g -ffp-contract=off -fsanitize=fuzzer-no-link,address,undefined
       -fno-sanitize-recover=undefined -I.)
srcs=(core/io/numparse.cpp core/io/xyz.cpp core/io/ply.cpp core/numtext.cpp core/geometry/mesh.cpp
      core/geometry/geometry3d.cpp fuzz/fuzz_ply.cpp fuzz/fuzz_xyz.cpp)

# Rebuild only when a source or header is newer than the binaries.
newest=$(find core fuzz -name '*.h' -o -name '*.cpp' -o -name run.sh | xargs ls -t | head -n 1)
if [ ! -x "$out/fuzz_ply" ] || [ ! -x "$out/fuzz_xyz" ] || [ "$newest" -nt "$out/fuzz_ply" ] || \
   [ "$newest" -nt "$out/fuzz_xyz" ]; then
  pids=()
  for s in "${srcs[@]}"; do
    "$CXX" "${flags[@]}" -c "$s" -o "$out/obj/$(basename "${s%.cpp}").o" &
    pids+=($!)
    if [ ${#pids[@]} -ge 2 ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
  done
  for p in "${pids[@]}"; do wait "$p"; done
  common=("$out"/obj/{numparse,xyz,ply,numtext,mesh,geometry3d}.o)
  for target in ply xyz; do
    "$CXX" -fsanitize=fuzzer,address,undefined "${common[@]}" "$out/obj/fuzz_$target.o" -o "$out/fuzz_$target"
  done
fi

for target in ply xyz; do
  work="$out/corpus_$target"
  mkdir -p "$work"
  # New findings go to the work corpus; the checked-in seeds are only read.
  "$out/fuzz_$target" -max_total_time="$secs" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$out/crash_${target}_" "$work" "fuzz/corpus/$target" 2>&1 | tail -n 40
  # A crash or leak ends the run with a non-zero status (pipefail).
done
