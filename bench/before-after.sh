#!/usr/bin/env bash
# The program of this tree against another build of it (BASE, a path to its
# binary), interleaved in rounds on the same files: hide of a present and of
# a new pattern and unhide of a present one on a 16 MiB exclude file (a
# fresh copy for every run), and list in a repository of 50,000 files.
# Prints the medians and each ratio of this tree's to BASE's.
#
# usage: BASE=/path/to/old/hushmark bench/before-after.sh
# Environment: ROUNDS (default 3), RUNS per round and command (default 15).
source "$(dirname "$0")/common.sh"
base=${BASE:?BASE names the binary to compare with}

size=$((16 * 1024 * 1024 - 64))
make_exclude "$scratch/exclude" "$size"
make_large_repo "$scratch/repo"

names=()
commands=()
for which in after before; do
  binary=$hushmark
  [ "$which" = before ] && binary=$base
  names+=("hide present $which" "hide new $which" "unhide present $which" "list $which")
  commands+=("$binary hide present/pattern.log" "$binary hide new/pattern.log"
    "$binary unhide present/pattern.log" "$binary list")
done
pairs=()
for i in "${!names[@]}"; do pairs+=("${names[i]}" "${commands[i]}"); done
HYPERFINE_OPTIONS=(--prepare "cp $scratch/exclude .git/info/exclude")
interleaved "$scratch/cmp" "${ROUNDS:-3}" "${RUNS:-15}" "${pairs[@]}"
medians "$scratch/cmp" "${names[@]}" | tee "$scratch/medians"
awk '{m[$0 ~ / before /] = 0; name = $0; sub(/ [0-9.]+$/, "", name); t[name] = $NF}
  END {
    split("hide present|hide new|unhide present|list", what, "|")
    for (i = 1; i <= 4; i++) printf "%s, after / before: %.3f\n", what[i], t[what[i] " after"] / t[what[i] " before"]
  }' "$scratch/medians"
echo "file system of the scratch directory: $(df -T "$scratch" | awk 'NR == 2 {print $2}')"
