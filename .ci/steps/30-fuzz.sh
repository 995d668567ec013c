#!/usr/bin/env bash
# libFuzzer: the argument parser, the line model with the pattern edits
# (checked by their properties, the piecewise scans against the whole-file
# edits), and the parser of git's ls-files listing. Built with clang over the
# program's own library (fuzz/), each run for a bounded time from its seed corpus in fuzz/corpus/;
# a crash or a broken property fails the step and leaves the input in
# build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
need_packages cmake clang-16 libclang-rt-16-dev
seconds=${HUSHMARK_FUZZ_SECONDS:-30}

cmake -S . -B build-fuzz -DHUSHMARK_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-16 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2 >/dev/null
for symbolizer in /usr/lib/llvm-16/bin/llvm-symbolizer /usr/bin/llvm-symbolizer; do
  [ -x "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH=$symbolizer && break
done

# The three run side by side, each for the same time; what they find
# beyond the seeds stays in build-fuzz/, not in the repository.
targets=(parser patterns ls_files)
pids=()
for target in "${targets[@]}"; do
  mkdir -p "build-fuzz/found/$target"
  (cd build-fuzz && "./fuzz_$target" -max_total_time="$seconds" -close_fd_mask=3 \
    -print_final_stats=1 "found/$target" "../fuzz/corpus/$target" >"log-$target" 2>&1) &
  pids+=($!)
done
failed=0
for i in "${!targets[@]}"; do
  if ! wait "${pids[$i]}"; then
    failed=1
    echo "fuzz_${targets[$i]} failed:" >&2
    grep -v '^#\|^INFO\|^stat::' "build-fuzz/log-${targets[$i]}" | head -60 >&2
  fi
  echo "fuzz_${targets[$i]}: $(grep -o 'number_of_executed_units: [0-9]*' \
    "build-fuzz/log-${targets[$i]}" | grep -o '[0-9]*') executions in ${seconds} s"
done
exit $failed
