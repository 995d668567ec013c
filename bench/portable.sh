#!/usr/bin/env bash
# hide on the 16 MiB exclude file with the program built for the portable
# POSIX routes only (-DHUSHMARK_PORTABLE_POSIX=ON) against the ordinary
# build, interleaved in rounds; medians of all runs. A new pattern shows
# what the read/write copy costs next to the copy inside the kernel; a
# present one, which copies nothing, shows the rest is the same.
#
# Environment: ROUNDS (default 3), RUNS per round and command (default 20).
source "$(dirname "$0")/common.sh"

build_release build-portable -DHUSHMARK_PORTABLE_POSIX=ON
portable="$root/build-portable/hushmark"

size=$((16 * 1024 * 1024 - 64))
repo="$scratch/repo"
git init -q "$repo"
make_exclude "$scratch/exclude" "$size"
cd "$repo"
echo "== exclude file of $size bytes"
HYPERFINE_OPTIONS=(--prepare "cp $scratch/exclude .git/info/exclude")
interleaved "$scratch/hide" "${ROUNDS:-3}" "${RUNS:-20}" \
  "kernel copy, new" "$hushmark hide new/pattern.log" \
  "read/write copy, new" "$portable hide new/pattern.log" \
  "kernel copy, present" "$hushmark hide present/pattern.log" \
  "read/write copy, present" "$portable hide present/pattern.log"
medians "$scratch/hide" "kernel copy, new" "read/write copy, new" \
  "kernel copy, present" "read/write copy, present" |
  sed 's/ \([0-9.]*\)$/: \1 ms/' | tee "$scratch/medians"
awk -F': ' '{sub(/ ms/, "", $2); m[$1] = $2}
  END {
    printf "read/write / kernel copy, new:     %.3f\n", m["read/write copy, new"] / m["kernel copy, new"]
    printf "read/write / kernel copy, present: %.3f\n", m["read/write copy, present"] / m["kernel copy, present"]
  }' "$scratch/medians"
for binary in "$hushmark" "$portable"; do
  cp "$scratch/exclude" .git/info/exclude
  echo "peak memory, $binary hide new/pattern.log: $(peak_kib "$binary" hide new/pattern.log) KiB"
done
