#!/usr/bin/env bash
# unhide on the 16 MiB exclude file that bench/hide.sh makes, against hide
# on the same file, interleaved in rounds; medians of all runs. Every run
# works on a fresh copy of the file. Targets: unhide of an absent pattern at
# most 1.3 times hide of a present one (both read the whole file and write
# nothing); unhide of a present pattern at most 1.3 times hide of a new one
# (both write a new file of about the same size); peak memory at most 8 MiB.
#
# Environment: ROUNDS (default 3), RUNS per round and command (default 20).
source "$(dirname "$0")/common.sh"

# Just under the size limit, with room for the new pattern: a rewrite may
# not reach 16 MiB.
size=$((16 * 1024 * 1024 - 64))
repo="$scratch/repo"
git init -q "$repo"
make_exclude "$scratch/exclude" "$size"
cd "$repo"
echo "== exclude file of $size bytes ($(wc -l <"$scratch/exclude") lines)"
HYPERFINE_OPTIONS=(--prepare "cp $scratch/exclude .git/info/exclude")
interleaved "$scratch/edit" "${ROUNDS:-3}" "${RUNS:-20}" \
  "hide present" "$hushmark hide present/pattern.log" \
  "unhide absent" "$hushmark unhide absent/pattern.log" \
  "hide new" "$hushmark hide new/pattern.log" \
  "unhide present" "$hushmark unhide present/pattern.log"
medians "$scratch/edit" "hide present" "unhide absent" "hide new" "unhide present" |
  sed 's/ \([0-9.]*\)$/: \1 ms/' | tee "$scratch/medians"
awk -F': ' '{sub(/ ms/, "", $2); m[$1] = $2}
  END {
    printf "unhide absent / hide present: %.3f (target <= 1.3)\n", m["unhide absent"] / m["hide present"]
    printf "unhide present / hide new:    %.3f (target <= 1.3)\n", m["unhide present"] / m["hide new"]
  }' "$scratch/medians"
for pattern in present/pattern.log absent/pattern.log; do
  cp "$scratch/exclude" .git/info/exclude
  echo "peak memory, unhide $pattern: $(peak_kib "$hushmark" unhide "$pattern") KiB (target <= 8192)"
done
