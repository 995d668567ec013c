# Shared setup of the benchmark scripts: a release build of the program,
# hyperfine, and a scratch directory that goes away at the end.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if ! command -v hyperfine >/dev/null; then
  apt-get update -qq && apt-get install -y -qq hyperfine >/dev/null
fi
# build_release DIR [CMAKE_ARGS...]: a release build of the program in DIR.
build_release() {
  local dir=$1
  shift
  cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$root/$dir" -j2 >/dev/null
}
build_release build
hushmark="$root/build/hushmark"

# The floor: a minimal static program that runs the same git commands as the
# command measured, drains their output and waits (see floor.c).
floor="$root/build/bench-floor"
cc -O2 -static -o "$floor" "$root/bench/floor.c"

scratch=$(mktemp -d /tmp/hushmark-bench-XXXXXX)
trap 'cd / && rm -rf "$scratch"' EXIT

export GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null
export GIT_AUTHOR_NAME=bench GIT_AUTHOR_EMAIL=bench@example.invalid
export GIT_COMMITTER_NAME=bench GIT_COMMITTER_EMAIL=bench@example.invalid

# interleaved PREFIX ROUNDS RUNS NAME COMMAND [NAME COMMAND...]: hyperfine
# ROUNDS times over all the commands, their order rotated from round to
# round, so that drift of the machine falls on all alike. Each round's
# results go to PREFIX-N.json. Further hyperfine options (such as --prepare)
# come from the array HYPERFINE_OPTIONS.
interleaved() {
  local prefix=$1 rounds=$2 runs=$3
  shift 3
  local names=() commands=()
  while [ $# -gt 0 ]; do
    names+=("$1")
    commands+=("$2")
    shift 2
  done
  local count=${#names[@]} round i
  for ((round = 0; round < rounds; round++)); do
    local args=()
    for ((i = 0; i < count; i++)); do
      local k=$(((i + round) % count))
      args+=(--command-name "${names[k]}" "${commands[k]}")
    done
    hyperfine -N --warmup 3 --runs "$runs" --style none ${HYPERFINE_OPTIONS[@]+"${HYPERFINE_OPTIONS[@]}"} \
      --export-json "$prefix-$round.json" "${args[@]}" >/dev/null 2>"$prefix-$round.err" ||
      { cat "$prefix-$round.err" >&2; return 1; }
  done
}

# medians PREFIX NAME...: the median of every run of every round, in ms, one
# "NAME MEDIAN" line per command.
medians() {
  python3 - "$@" <<'PY'
import glob, json, statistics, sys
prefix, names = sys.argv[1], sys.argv[2:]
times = {}
for path in sorted(glob.glob(prefix + "-*.json")):
    for r in json.load(open(path))["results"]:
        times.setdefault(r["command"], []).extend(r["times"])
for name in names:
    print(f"{name} {statistics.median(times[name]) * 1000:.2f}")
PY
}

# make_exclude FILE SIZE: LF-ended lines of about 21 bytes, and the line
# "present/pattern.log" last, SIZE bytes in all.
make_exclude() {
  python3 - "$1" "$2" <<'PY'
import random, sys
path, target = sys.argv[1], int(sys.argv[2])
random.seed(7)
last = b"present/pattern.log\n"
out = bytearray()
while True:
    line = b"build/d%d/f%05x.o\n" % (random.randrange(100), random.randrange(1 << 20))
    if len(out) + len(line) + len(last) > target:
        break
    out += line
out += b"#" * (target - len(out) - len(last) - 1) + b"\n" + last
assert len(out) == target
open(path, "wb").write(out)
PY
}

# make_large_repo DIR: a repository of 50,000 tracked files (500 directories
# of 100), with src/module001/file001.txt, src/module250/file050.txt and
# src/module499/file099.txt frozen; the current directory is DIR after.
make_large_repo() {
  git init -q "$1"
  cd "$1"
  python3 - <<'PY'
import os
for d in range(500):
    os.makedirs(f"src/module{d:03d}", exist_ok=True)
    for f in range(100):
        with open(f"src/module{d:03d}/file{f:03d}.txt", "w") as out:
            out.write(f"{d} {f}\n")
PY
  git config gc.auto 0
  git add -A && git commit -qm files
  git update-index --skip-worktree -- src/module001/file001.txt src/module250/file050.txt \
    src/module499/file099.txt
}

# peak_kib COMMAND...: the peak resident memory of a run, in KiB.
peak_kib() {
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
}
if [ ! -x /usr/bin/time ]; then
  apt-get update -qq && apt-get install -y -qq time >/dev/null
fi
