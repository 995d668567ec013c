#!/usr/bin/env bash
# clang-tidy over the program's sources with the checks in .clang-tidy; any
# finding fails. The POSIX sources are read as the Linux build compiles
# them, the Windows ones (and the portable ones again) as the MinGW build
# does, with MinGW's C++ library and Windows headers but clang's own
# built-in headers. libstdc++ 12 offers std::expected only to a compiler
# that announces C++20 concepts in full; clang 16 implements what it needs
# but announces less, so the announcement is set for it.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
need_packages g++ cmake clang-tidy-16 g++-mingw-w64-x86-64-posix

common=(--quiet --extra-arg=-std=c++2b --extra-arg=-U__cpp_concepts
  --extra-arg=-D__cpp_concepts=202002L --extra-arg=-Wno-builtin-macro-redefined)
# Findings are errors (.clang-tidy); the compilers' own notes are dropped.
tidy() { xargs -P2 -n4 clang-tidy-16 "$@" 2>&1 | sed "/warnings generated\.$/d"; }

cmake -S . -B build-tidy -DCMAKE_BUILD_TYPE=Debug >/dev/null
ls src/*.cc src/*/*.cc | grep -v -- '-win32\.cc$' | tidy -p build-tidy "${common[@]}"

cmake -S . -B build-tidy-windows -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
mingw_includes=()
while read -r dir; do
  mingw_includes+=("--extra-arg=-isystem$dir")
done < <(echo | x86_64-w64-mingw32-g++-posix -std=c++23 -E -x c++ - -v 2>&1 |
  sed -n '/#include <...> search starts here/,/End of search list/p' |
  sed '1d;$d;s/^ //' | grep -v -e 'gcc/x86_64-w64-mingw32/[^/]*/include$' -e '/include-fixed$')
ls src/*.cc src/*/*.cc | grep -v -- '-posix\.cc$' |
  tidy -p build-tidy-windows "${common[@]}" --extra-arg=--target=x86_64-w64-mingw32 \
    --extra-arg=-nostdinc++ "${mingw_includes[@]}"
echo "clang-tidy: no findings"
