#!/usr/bin/env bash
# The shape of src/: no folder holds more than 40% of the source lines or
# more than 30 files, and every #include "..." points down the floors or
# stays on its own folder. From the top: the entry points (src/main-*.cc and
# the Windows resources), cli/, worktree/, exclude/, git/, then files/ and
# process/ (one floor; neither includes the other), runtime/, base/. The
# build's generated posix_config.h may be included from anywhere. Any
# folder missing, any folder or file not placed, any include that names
# no file of src/ fails.
set -euo pipefail
cd "$(git -C "$(dirname "$0")" rev-parse --show-toplevel)"

floors=(entry cli worktree exclude git "files process" runtime base)
declare -A floor_of
for ((i = 0; i < ${#floors[@]}; i++)); do
  for room in ${floors[i]}; do floor_of[$room]=$(( ${#floors[@]} - i )); done
done
failed=0
fail() {
  echo "layering: $*" >&2
  failed=1
}

# The room of a path under src/: its first folder, or "entry" for the files
# at the top and the Windows resources.
room_of() {
  case $1 in
  */*) local first=${1%%/*}; [ "$first" = windows ] && echo entry || echo "$first" ;;
  main-*.cc | posix_config.h.in) echo entry ;;
  *) echo "?" ;;
  esac
}

for room in ${floors[@]}; do
  [ "$room" = entry ] || [ -d "src/$room" ] || fail "src/$room/ is missing"
done

total_lines=$(find src -type f -exec cat {} + | wc -l)
total_files=$(find src -type f | wc -l)
for dir in src/*/; do
  dir=${dir#src/}
  dir=${dir%/}
  [ -n "${floor_of[$dir]:-}" ] || [ "$dir" = windows ] || fail "src/$dir/ has no floor"
  lines=$(find "src/$dir" -type f -exec cat {} + | wc -l)
  files=$(find "src/$dir" -type f | wc -l)
  if ((files > 30)); then fail "src/$dir/ holds $files files (at most 30)"; fi
  if ((lines * 100 > total_lines * 40)); then
    fail "src/$dir/ holds $lines of the $total_lines source lines (at most 40%)"
  fi
done

while IFS= read -r path; do
  from=$(room_of "${path#src/}")
  [ "$from" != "?" ] || { fail "$path has no floor"; continue; }
  while IFS= read -r target; do
    [ "$target" = posix_config.h ] && continue
    [ -f "src/$target" ] || { fail "$path includes \"$target\", which is no file of src/"; continue; }
    to=$(room_of "$target")
    [ "$to" = "$from" ] && continue
    [ "$to" != "?" ] || { fail "$path includes \"$target\", which has no floor"; continue; }
    if ((floor_of[$to] >= floor_of[$from])); then
      fail "$path ($from/) includes \"$target\" ($to/), which is not below it"
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$path")
done < <(find src -type f \( -name '*.cc' -o -name '*.h' -o -name '*.rc' -o -name '*.in' \) | sort)

((failed == 0)) || exit 1
echo "layering: $total_files files in src/, no folder over 30 files or 40% of $total_lines lines; every include points down"
