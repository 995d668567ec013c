#!/usr/bin/env bash
# Allocation-failure sweep: a test-only build of the program in which the
# N-th allocation fails is run for every N of each route (hide by both
# write routes, hide of a present pattern, unhide, list, freeze, a usage
# error); every run must end with one of the program's texts, without a
# signal or a leak, and leave the exclude file old or new.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
need_packages g++ cmake git libgtest-dev

cmake --preset test >/dev/null
cmake --build --preset test --target hushmark_alloc_sweep >/dev/null
build-test/tests/hushmark_alloc_sweep
