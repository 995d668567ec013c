#!/usr/bin/env bash
# Every C and C++ source follows .clang-format; any difference fails.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
need_packages git clang-format

git ls-files -z '*.cc' '*.h' '*.c' | xargs -0 clang-format --dry-run -Werror
echo "clang-format: every source is formatted"
