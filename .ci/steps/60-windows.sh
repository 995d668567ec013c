#!/usr/bin/env bash
# The Windows build: hushmark.exe cross-built with MinGW-w64 (warnings are
# errors, as in every build), then its unit tests and its end-to-end cases
# run under Wine, with one wineserver for the whole run.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
# The -posix thread model only: the -win32 one lacks std::recursive_mutex and
# would take over the plain compiler names. The end-to-end harness is a
# Linux program, built with the host compiler and GoogleTest.
need_packages g++-mingw-w64-x86-64-posix wine64 googletest g++ cmake libgtest-dev

# A git.exe built from Debian's git source package, cached outside the
# clone: the Linux suite's cases against real Git run under Wine against it.
start=$SECONDS
HUSHMARK_WINDOWS_GIT=$(bash .ci/build-windows-git.sh)
export HUSHMARK_WINDOWS_GIT
echo "git.exe for Windows ready: $((SECONDS - start)) s"

# Whatever happens, no wineserver outlives the step.
trap 'build-windows/wine/run --stop-server >/dev/null 2>&1 || true' EXIT
start=$SECONDS
cmake --workflow --preset windows
echo "Windows build and tests under Wine: $((SECONDS - start)) s"
