#!/usr/bin/env bash
# list on a monorepo-sized index: 600,000 entries made without a checkout
# (one blob behind every path), every 1,000th frozen. Against the pipeline
# people use, `git ls-files -v | grep '^[Ss] '`, interleaved in rounds;
# medians of all runs; and against the floor, a minimal program that makes
# the same two git runs. Then the program's own peak memory, with git replaced
# by a stand-in that replays the listing, so that git's memory is not
# counted. Targets: at most 1.1 times the pipeline; at most 12 MiB.
#
# Environment: ROUNDS (default 3), RUNS per round and command (default 10),
# ENTRIES (default 600000).
source "$(dirname "$0")/common.sh"

entries=${ENTRIES:-600000}
repo="$scratch/repo"
git init -q "$repo"
cd "$repo"
blob=$(git hash-object -w --stdin </dev/null)
python3 - "$blob" "$entries" <<'PY' | git update-index --index-info
import sys
blob, entries = sys.argv[1], int(sys.argv[2])
out = sys.stdout
for i in range(entries):
    out.write(f"100644 {blob}\tsrc/module{i // 1000:04d}/component{i % 100:02d}/file{i:07d}.txt\n")
PY
git ls-files | awk 'NR % 1000 == 0' | git update-index --skip-worktree --stdin
printf '%s\n' 'build/' '*.log' > .git/info/exclude
frozen=$(git ls-files -v | grep -c '^S ')
listing=$(git ls-files -v -z | wc -c)
echo "== $entries entries, $frozen frozen; listing of $listing bytes"
"$hushmark" list | tail -n +3 | wc -l | { read -r n; [ "$n" = "$frozen" ] || { echo "list showed $n frozen entries" >&2; exit 1; }; }

pipeline="sh -c 'git ls-files -v | grep \"^[Ss] \"'"
floor_list="$floor git rev-parse --git-path info/exclude ;; git ls-files -v -z"
interleaved "$scratch/list" "${ROUNDS:-3}" "${RUNS:-10}" hushmark "$hushmark list" pipeline "$pipeline" \
  floor "$floor_list"
medians "$scratch/list" hushmark pipeline floor | tee "$scratch/medians"
awk '{m[$1] = $2} END {printf "hushmark / pipeline: %.3f (target <= 1.1)\nhushmark / floor: %.3f\n", m["hushmark"] / m["pipeline"], m["hushmark"] / m["floor"]}' "$scratch/medians"

# The stand-in answers the two questions list asks from files.
git ls-files -v -z >"$scratch/listing"
mkdir "$scratch/stand-in"
cat >"$scratch/stand-in/git" <<SH
#!/bin/sh
case "\$1" in
rev-parse) echo .git/info/exclude ;;
ls-files) exec cat "$scratch/listing" ;;
*) exit 1 ;;
esac
SH
chmod +x "$scratch/stand-in/git"
kib=$(PATH="$scratch/stand-in:$PATH" peak_kib "$hushmark" list)
echo "peak memory of list with the stand-in: $kib KiB (target <= 12288)"
