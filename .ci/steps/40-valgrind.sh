#!/usr/bin/env bash
# valgrind memcheck over each command's success and failure routes, in a
# build without sanitizers that loads the C library dynamically (so that
# memcheck sees every allocation): no error and no leak in any run.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
need_packages g++ cmake git valgrind

cmake -S . -B build-valgrind -DCMAKE_BUILD_TYPE=Debug -DHUSHMARK_STATIC=OFF >/dev/null
cmake --build build-valgrind -j2 --target hushmark >/dev/null
program=$PWD/build-valgrind/hushmark

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null HOME=$work LC_ALL=C
git init -q "$work/repo"
cd "$work/repo"
echo content >tracked
git add tracked
git -c user.name=CI -c user.email=ci@example.invalid commit -q -m tracked

runs=0
# usage: check EXPECTED-STATUS ARGS...
check() {
  local expected=$1 status=0
  shift
  valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect --log-file="$work/log" \
    "$program" "$@" >/dev/null 2>"$work/stderr" || status=$?
  if [ "$status" != "$expected" ] || [ -s "$work/log" ]; then
    echo "valgrind: hushmark $* ended with $status (expected $expected)" >&2
    cat "$work/log" "$work/stderr" >&2
    exit 1
  fi
  runs=$((runs + 1))
}

printf 'a\n' >.git/info/exclude
check 0 hide b                 # appended to a file in written form
printf 'a\r\n' >.git/info/exclude
check 0 hide b                 # rebuilt
check 0 hide a b               # present
check 0 unhide a
check 0 list
check 0 freeze tracked
check 0 list
check 0 unfreeze tracked
check 0 --help
check 0 hide --help
check 2 hide                   # usage errors
check 2 frobnicate
check 1 freeze no-such-file    # git fails
mv .git/info/exclude "$work/kept" && mkdir .git/info/exclude
check 1 hide c                 # IsDir
check 1 unhide c
check 1 list
rmdir .git/info/exclude && mv "$work/kept" .git/info/exclude
cd "$work"
GIT_CEILING_DIRECTORIES=$work check 1 hide x   # no repository
echo "valgrind: $runs runs, 0 errors"
