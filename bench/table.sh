#!/usr/bin/env bash
# Every benchmark in one interleaved hyperfine run, printed as one Markdown
# table: the program's median time for each task, the median of what it is
# compared with and their ratio, then its peak memory; above the table the
# machine, the file system, the load and the date.
#
# All commands run in the same hyperfine invocation, without a shell of
# hyperfine's own between; the invocation is repeated in ROUNDS rounds with
# the order of the commands rotated, so that drift of the machine falls on
# all alike, and each median is taken over every run of every round. Each
# command starts through bench/at.c, which changes to its repository, so
# every time includes one start of a small static program (the row "two
# empty starts" shows what starting costs). The exclude file of the edit
# benchmarks is a fresh copy before every run.
#
# What is compared:
#   freeze f          the sh -c wrapper around git a user would write, bare
#                     git update-index, and the floor (bench/floor.c: the
#                     same git run from a minimal program)
#   hide              the grep one-liner, on an exclude file just under the
#                     16 MiB limit (a rewrite may not reach 16 MiB) and on
#                     one of 1 MiB, with the pattern present at the end and
#                     with a new one
#   unhide            hide on the same file: an absent pattern against a
#                     present one (both read the whole file, write nothing),
#                     a present one against a new one (both write a new file)
#   portable build    hide with -DHUSHMARK_PORTABLE_POSIX=ON against the
#                     ordinary build: where access lists cannot be seen, an
#                     existing file is written in place (a new pattern is
#                     appended) instead of copied and renamed
#   list              the shell pipeline that shows the same, and the floor,
#                     in 50,000 tracked files and on an index of 600,000
#                     entries without a checkout, every 1,000th frozen
#
# usage: bench/table.sh [--update]
#   (no option)  print the table
#   --update     also put it into doc/benchmarks.md, between its markers
# Builds build/ and build-portable/ in Release.
# Environment: ROUNDS (default 6), RUNS per round and command (default 40),
# WARMUP per round and command (default 3), ENTRIES (default 600000).
update=
[ "${1:-}" = --update ] && update=1
source "$(dirname "$0")/common.sh"

rounds=${ROUNDS:-6}
runs=${RUNS:-40}
warmup=${WARMUP:-3}
entries=${ENTRIES:-600000}
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

build_release build-portable -DHUSHMARK_PORTABLE_POSIX=ON
portable="$root/build-portable/hushmark"
at="$root/build/bench-at"
cc -O2 -static -o "$at" "$root/bench/at.c"

# The repositories.
small=$scratch/small
git init -q "$small"
(cd "$small" && echo content >f && git add f && git commit -q -m f)

(make_large_repo "$scratch/files" && printf '%s\n' '# local' 'build/' '*.log' '.idea/' >.git/info/exclude)

index=$scratch/index
git init -q "$index"
(
  cd "$index"
  blob=$(git hash-object -w --stdin </dev/null)
  python3 - "$blob" "$entries" <<'PY' | git update-index --index-info
import sys
blob, entries = sys.argv[1], int(sys.argv[2])
out = sys.stdout
for i in range(entries):
    out.write(f"100644 {blob}\tsrc/module{i // 1000:04d}/component{i % 100:02d}/file{i:07d}.txt\n")
PY
  git ls-files | awk 'NR % 1000 == 0' | git update-index --skip-worktree --stdin
  printf '%s\n' 'build/' '*.log' >.git/info/exclude
)
listing_bytes=$(cd "$index" && git ls-files -v -z | wc -c)

big=$((16 * 1024 * 1024 - 64))
for size in $big 1048576; do
  git init -q "$scratch/edit-$size"
  make_exclude "$scratch/exclude-$size" "$size"
done

# The commands: NAME, REPOSITORY, PREPARE (or "" for none), COMMAND.
names=() dirs=() prepares=() commands=()
add() {
  names+=("$1")
  dirs+=("$2")
  prepares+=("${3:-true}")
  commands+=("$4")
}
oneliner='sh -c '\''f=$(git rev-parse --git-path info/exclude) && { grep -qxF -- "$1" "$f" || printf "%s\n" "$1" >> "$f"; }'\'' sh'
pipeline='sh -c '\''cat "$(git rev-parse --git-path info/exclude)"; git ls-files -v | grep "^[Ss] "'\'''
floor_list="$floor git rev-parse --git-path info/exclude ;; git ls-files -v -z"

add empty "$small" "" "$floor"
add freeze "$small" "" "$hushmark freeze f"
add freeze-sh "$small" "" "sh -c 'git update-index --skip-worktree -- \"\$1\"' sh f"
add freeze-git "$small" "" "git update-index --skip-worktree -- f"
add freeze-floor "$small" "" "$floor git update-index --skip-worktree -- f"
for size in $big 1048576; do
  copy="cp $scratch/exclude-$size $scratch/edit-$size/.git/info/exclude"
  add "hide-present-$size" "$scratch/edit-$size" "$copy" "$hushmark hide present/pattern.log"
  add "oneliner-present-$size" "$scratch/edit-$size" "$copy" "$oneliner present/pattern.log"
  add "hide-new-$size" "$scratch/edit-$size" "$copy" "$hushmark hide new/pattern.log"
  add "oneliner-new-$size" "$scratch/edit-$size" "$copy" "$oneliner new/pattern.log"
done
copy="cp $scratch/exclude-$big $scratch/edit-$big/.git/info/exclude"
add unhide-absent "$scratch/edit-$big" "$copy" "$hushmark unhide absent/pattern.log"
add unhide-present "$scratch/edit-$big" "$copy" "$hushmark unhide present/pattern.log"
add portable-new "$scratch/edit-$big" "$copy" "$portable hide new/pattern.log"
add portable-present "$scratch/edit-$big" "$copy" "$portable hide present/pattern.log"
for repo in files index; do
  add "list-$repo" "$scratch/$repo" "" "$hushmark list"
  add "pipeline-$repo" "$scratch/$repo" "" "$pipeline"
  add "floor-$repo" "$scratch/$repo" "" "$floor_list"
done

count=${#names[@]}
for ((round = 0; round < rounds; round++)); do
  echo "round $((round + 1)) of $rounds ($count commands)" >&2
  # hyperfine pairs the n-th --prepare with the n-th command.
  prepare_args=() command_args=()
  for ((i = 0; i < count; i++)); do
    k=$(((i + round) % count))
    prepare_args+=(--prepare "${prepares[k]}")
    command_args+=(--command-name "${names[k]}" "$at ${dirs[k]} ${commands[k]}")
  done
  hyperfine -N --warmup "$warmup" --runs "$runs" --style none "${prepare_args[@]}" \
    --export-json "$scratch/round-$round.json" "${command_args[@]}" >/dev/null 2>"$scratch/round-$round.err" ||
    { cat "$scratch/round-$round.err" >&2; exit 1; }
done

# Peak memory (KiB) of the program's own process: hide and unhide on the
# large file; list on the large index with git replaced by a stand-in that
# replays the listing, so that git's memory is not counted.
cd "$scratch/edit-$big"
cp "$scratch/exclude-$big" .git/info/exclude
peak_hide=$(peak_kib "$hushmark" hide new/pattern.log)
cp "$scratch/exclude-$big" .git/info/exclude
peak_unhide=$(peak_kib "$hushmark" unhide present/pattern.log)
cd "$index"
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
peak_list=$(PATH="$scratch/stand-in:$PATH" peak_kib "$hushmark" list)
cd /

machine="$(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), Linux $(uname -r)"
filesystem=$(df -T "$scratch" | awk 'NR == 2 {print $2}')
python3 >"$scratch/table" - "$scratch" "$rounds" "$runs" "$machine" "$filesystem" "$load_before" \
  "$(cut -d' ' -f1-3 /proc/loadavg)" "$(git --version)" "$(hyperfine --version)" \
  "$listing_bytes" "$peak_hide" "$peak_unhide" "$peak_list" "$entries" <<'PY'
import datetime, glob, json, statistics, sys
(scratch, rounds, runs, machine, fs, load_before, load_after, git, hyperfine,
 listing, peak_hide, peak_unhide, peak_list, entries) = sys.argv[1:]
entries = int(entries)
times = {}
for path in sorted(glob.glob(scratch + "/round-*.json")):
    for r in json.load(open(path))["results"]:
        times.setdefault(r["command"], []).extend(r["times"])
ms = {name: statistics.median(t) * 1000 for name, t in times.items()}
big, small = str(16 * 1024 * 1024 - 64), "1048576"
mib = lambda kib: f"{int(kib) / 1024:.1f} MiB"
listing_mb = f"{int(listing) / 1e6:.0f} MB"
rows = [
    ("two empty starts (`bench/at`, then the floor with no git to run)", "empty", []),
    ("`freeze f`", "freeze", [("the `sh -c` wrapper", "freeze-sh"),
                              ("bare `git update-index`", "freeze-git"),
                              ("the floor", "freeze-floor")]),
]
for size, label in ((big, "just under 16 MiB"), (small, "of 1 MiB")):
    rows.append((f"`hide`, file {label}, pattern present", f"hide-present-{size}",
                 [("the grep one-liner", f"oneliner-present-{size}")]))
    rows.append((f"`hide`, file {label}, new pattern", f"hide-new-{size}",
                 [("the grep one-liner", f"oneliner-new-{size}")]))
rows += [
    ("`unhide`, file just under 16 MiB, absent pattern", "unhide-absent",
     [("`hide` of a present pattern", f"hide-present-{big}")]),
    ("`unhide`, file just under 16 MiB, present pattern", "unhide-present",
     [("`hide` of a new pattern", f"hide-new-{big}")]),
    ("`hide`, file just under 16 MiB, new pattern, portable build (appends in place)", "portable-new",
     [("the ordinary build (copies and renames)", f"hide-new-{big}")]),
    ("`hide`, file just under 16 MiB, pattern present, portable build", "portable-present",
     [("the ordinary build", f"hide-present-{big}")]),
    ("`list`, 50,000 tracked files, 3 frozen", "list-files",
     [("the shell pipeline", "pipeline-files"), ("the floor", "floor-files")]),
    (f"`list`, index of {entries:,} entries, {entries // 1000:,} frozen ({listing_mb} listing)", "list-index",
     [("the shell pipeline", "pipeline-index"), ("the floor", "floor-index")]),
]
date = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
print(f"Machine: {machine}; scratch file system: {fs}; {date}; load average {load_before} "
      f"before, {load_after} after; {git}; {hyperfine}; {rounds} rounds of {runs} runs "
      "per command.")
print()
print("| Benchmark | hushmark | compared with | its median | ratio |")
print("|---|---|---|---|---|")
for label, ours, others in rows:
    if not others:
        print(f"| {label} | {ms[ours]:.2f} ms | | | |")
    for i, (what, other) in enumerate(others):
        first = (label, f"{ms[ours]:.2f} ms") if i == 0 else ("", "")
        print(f"| {first[0]} | {first[1]} | {what} | {ms[other]:.2f} ms | {ms[ours] / ms[other]:.2f} |")
print()
print("| Peak memory of the program's own process | |")
print("|---|---|")
print(f"| `hide`, file just under 16 MiB, new pattern | {mib(peak_hide)} |")
print(f"| `unhide`, file just under 16 MiB, present pattern | {mib(peak_unhide)} |")
print(f"| `list`, index of {entries:,} entries (git replaced by a stand-in that replays its listing) | {mib(peak_list)} |")
PY
cat "$scratch/table"
if [ -n "$update" ]; then
  doc=$root/doc/benchmarks.md
  begin='<!-- table: begin (made by bench/table.sh --update; do not edit) -->'
  grep -qxF "$begin" "$doc" || { echo "$doc has no table markers" >&2; exit 1; }
  awk -v begin="$begin" -v table="$scratch/table" '
    $0 == begin { print; while ((getline line < table) > 0) print line; skip = 1; next }
    /^<!-- table: end -->$/ { skip = 0 }
    !skip' "$doc" >"$doc.new" && mv "$doc.new" "$doc"
fi
