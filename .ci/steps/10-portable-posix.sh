#!/usr/bin/env bash
# The whole test suite again, under the sanitizers, with the portable POSIX
# routes in place of the Linux extras (pipe2, copy_file_range, a larger
# pipe), so that the routes other systems take cannot rot.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
need_packages g++ cmake git libgtest-dev

cmake --workflow --preset test-portable
if grep -E 'HUSHMARK_HAVE_[A-Z0-9_]+ 1' build-test-portable/generated/posix_config.h; then
  echo "the portable build still uses an extra" >&2
  exit 1
fi
