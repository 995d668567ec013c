#!/usr/bin/env bash
# Times `hushmark freeze f` against the two ways a user would do the same
# by hand, a one-line sh wrapper around git and git itself, and against the
# floor, a minimal program that runs the same git. All run in
# the same hyperfine invocation, without a shell of hyperfine's own between;
# the invocation is repeated in several rounds with the order of the commands
# rotated, so that drift of the machine falls on all alike.
#
# Prints hushmark's time as a ratio of each of the others (medians of all
# runs of all rounds). Targets: at most 0.85 of the sh wrapper, at most 1.35
# of bare git.
#
# Environment: ROUNDS (default 3), RUNS per round and command (default 300),
# WARMUP per round and command (default 20).
source "$(dirname "$0")/common.sh"

rounds=${ROUNDS:-3}
runs=${RUNS:-300}
warmup=${WARMUP:-20}

if ! command -v jq >/dev/null; then
  apt-get update -qq && apt-get install -y -qq jq >/dev/null
fi

repo=$scratch/repo
git init -q "$repo"
cd "$repo"
echo content >f
git add f
git commit -q -m f

commands=(
  "$hushmark freeze f"
  "sh -c 'git update-index --skip-worktree -- \"\$1\"' sh f"
  "git update-index --skip-worktree -- f"
  "$floor git update-index --skip-worktree -- f"
)
names=(hushmark sh-wrapper git floor)

for ((round = 0; round < rounds; round++)); do
  order=()
  for ((i = 0; i < ${#commands[@]}; i++)); do
    order+=($(((i + round) % ${#commands[@]})))
  done
  args=()
  for i in "${order[@]}"; do args+=(--command-name "${names[i]}" "${commands[i]}"); done
  echo "round $((round + 1)) of $rounds: ${names[${order[0]}]} first" >&2
  hyperfine --shell=none --warmup "$warmup" --runs "$runs" --style basic \
    --export-json "$scratch/round-$round.json" "${args[@]}" >&2
done

# Every run's time of every round, per command; the ratios of the medians.
jq -s -r '
  def median: sort | if length % 2 == 1 then .[length / 2 | floor]
                     else (.[length / 2 - 1] + .[length / 2]) / 2 end;
  [.[].results[]] | group_by(.command)
  | map({key: .[0].command, value: ([.[].times[]] | median)}) | from_entries
  | "median ms: hushmark \(.hushmark * 1000 * 1000 | round / 1000)"
    + ", sh-wrapper \(."sh-wrapper" * 1000 * 1000 | round / 1000)"
    + ", git \(.git * 1000 * 1000 | round / 1000)"
    + ", floor \(.floor * 1000 * 1000 | round / 1000)\n"
    + "hushmark / sh-wrapper: \(.hushmark / ."sh-wrapper" * 1000 | round / 1000) (target <= 0.85)\n"
    + "hushmark / git: \(.hushmark / .git * 1000 | round / 1000) (target <= 1.35)\n"
    + "hushmark / floor: \(.hushmark / .floor * 1000 | round / 1000)"
' "$scratch"/round-*.json
