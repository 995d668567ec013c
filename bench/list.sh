#!/usr/bin/env bash
# list in a repository of 50,000 tracked files with a few frozen, against
# the shell pipeline people use, against the two bare git runs it makes and
# against the floor (a minimal program that makes the same two runs).
source "$(dirname "$0")/common.sh"

make_large_repo "$scratch/repo"
printf '%s\n' '# local' 'build/' '*.log' '.idea/' > .git/info/exclude
echo "== $(git ls-files | wc -l) tracked files"

pipeline='sh -c '\''cat "$(git rev-parse --git-path info/exclude)"; git ls-files -v | grep "^S"'\'''
hyperfine -N --warmup 5 --runs "${RUNS:-60}" --export-json "$scratch/list.json" \
  "$hushmark list" "$pipeline" \
  "git rev-parse --git-path info/exclude" "git ls-files -v -z" \
  "$floor git rev-parse --git-path info/exclude ;; git ls-files -v -z" | grep -E '^Benchmark|Time'
python3 - "$scratch/list.json" "$hushmark list" "$pipeline" "$floor" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
ours, pipeline = r[sys.argv[2]], r[sys.argv[3]]
bare = r["git rev-parse --git-path info/exclude"] + r["git ls-files -v -z"]
floor = next(v for k, v in r.items() if k.startswith(sys.argv[4]))
print(f"ratio to the pipeline:      {ours / pipeline:.3f}")
print(f"ratio to the bare git runs: {ours / bare:.3f}")
print(f"ratio to the floor:         {ours / floor:.3f}")
PY
