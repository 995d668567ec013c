#!/usr/bin/env bash
# hide on a large exclude file, against the shell one-liner people use:
# once with a pattern that is already there (at the very end of the file) and
# once with a new one, on a file just under the size limit and on one of
# 1 MiB. Peak memory comes from /usr/bin/time.
source "$(dirname "$0")/common.sh"

oneliner='sh -c '\''f=$(git rev-parse --git-path info/exclude) && { grep -qxF -- "$1" "$f" || printf "%s\n" "$1" >> "$f"; }'\'' sh'

# The larger file is just under the size limit, with room for the new
# pattern: a rewrite may not reach 16 MiB.
for size in $((16 * 1024 * 1024 - 64)) 1048576; do
  repo="$scratch/repo-$size"
  git init -q "$repo"
  make_exclude "$scratch/exclude-$size" "$size"
  cd "$repo"
  echo "== exclude file of $size bytes ($(wc -l < "$scratch/exclude-$size") lines)"
  hyperfine -N --warmup 5 --runs "${RUNS:-60}" \
    --prepare "cp $scratch/exclude-$size .git/info/exclude" \
    --export-json "$scratch/hide-$size.json" \
    "$hushmark hide present/pattern.log" "$oneliner present/pattern.log" \
    "$hushmark hide new/pattern.log" "$oneliner new/pattern.log" | grep -E '^Benchmark|Time'
  echo "ratio present: $(ratio "$scratch/hide-$size.json" "$hushmark hide present/pattern.log" "$oneliner present/pattern.log")"
  echo "ratio new:     $(ratio "$scratch/hide-$size.json" "$hushmark hide new/pattern.log" "$oneliner new/pattern.log")"
  for pattern in present/pattern.log new/pattern.log; do
    cp "$scratch/exclude-$size" .git/info/exclude
    kb=$(/usr/bin/time -f %M "$hushmark" hide "$pattern" 2>&1 >/dev/null)
    echo "peak memory, hide $pattern: ${kb} KiB (file: $((size / 1024)) KiB)"
  done
  cd "$root"
done
