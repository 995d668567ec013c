#!/usr/bin/env bash
# Drives the installed completions of bash, zsh and fish against a real
# repository and compares what they offer with what is expected.
# usage: completion_test.sh PREFIX   (where hushmark was installed: bin/, share/)
# Shells that are not installed are skipped with a note; set
# HUSHMARK_REQUIRE_SHELLS=1 to fail instead.
set -euo pipefail
prefix=$(cd "$1" && pwd)
share=$prefix/share
# Debian's zsh reads packages' completions from vendor-completions.
zsh_dir=$share/zsh/site-functions
[[ -d $zsh_dir ]] || zsh_dir=$share/zsh/vendor-completions
failures=0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work GIT_CONFIG_NOSYSTEM=1 PATH=$prefix/bin:$PATH
export GIT_AUTHOR_NAME=t GIT_AUTHOR_EMAIL=t@example.org GIT_COMMITTER_NAME=t GIT_COMMITTER_EMAIL=t@example.org

# The repository: tracked files with blanks, a line feed, a leading dash,
# ':' and '=' in their names, three of them frozen; an untracked file; two
# hidden patterns.
repo=$work/repo
git init -q "$repo"
cd "$repo"
mkdir src docs sub
touch 'my file.txt' src/a.c 'docs/b c.md' 'sub/delta file.txt' a:b=c.txt $'line\nfeed' -- -dash
git add -A
git commit -qm init
hushmark freeze 'docs/b c.md' 'sub/delta file.txt' $'line\nfeed'
hushmark hide '*.log' 'with space/'
touch 'notes one.txt' src/new.tmp

fail() {
  printf 'FAIL %s\n  expected: %q\n  got:      %q\n' "$1" "$2" "$3"
  failures=$((failures + 1))
}

skip_or_fail() {
  if [[ ${HUSHMARK_REQUIRE_SHELLS:-} == 1 ]]; then
    fail "$1 is installed" yes no
  else
    echo "skip: $1 is not installed"
  fi
}

# bash: each case is the line typed up to the cursor and the completions
# offered, one per line, as the shell inserts them in place of the text after
# an open quote or the last ':' or '=' (closing a quote after a sole match).
bash_cases=(
  "hushmark " $'hide\nunhide\nfreeze\nunfreeze\nlist'
  "hushmark -" $'-h\n--help\n-V\n--version'
  "hushmark fr" 'freeze'
  "hushmark -- " $'hide\nunhide\nfreeze\nunfreeze\nlist'
  "hushmark freeze " $'-dash\na:b=c.txt\nmy\\ file.txt\nsrc/a.c'
  "hushmark freeze my\\ f" 'my\ file.txt'
  "hushmark freeze 'my f" 'my file.txt'
  "hushmark unfreeze 'sub/d" 'sub/delta file.txt'
  "hushmark unfreeze \"sub/d" 'sub/delta file.txt'
  "hushmark freeze a:b" 'b=c.txt'
  "hushmark freeze -" $'-h\n--help'
  "hushmark freeze -- -" '-dash'
  "hushmark unfreeze " $'docs/b\\ c.md\n$\'line\\nfeed\'\nsub/delta\\ file.txt'
  "hushmark unfreeze sub/delta\\ file.txt 'docs/b c.md' " $'$\'line\\nfeed\''
  "hushmark unhide " $'\\*.log\nwith\\ space/'
  "hushmark hide " $'notes\\ one.txt\nsrc/new.tmp'
  "hushmark list " ''
  "hushmark nosuch " ''
)
got=$(bash --norc --noprofile -c '
  source "$1"; shift
  complete -p hushmark
  while (($#)); do
    COMP_LINE=$1 COMP_POINT=${#1}
    _hushmark
    printf "%s\n" "${COMPREPLY[@]}"
    printf "\36"
    shift 2
  done' bash "$share/bash-completion/completions/hushmark" "${bash_cases[@]}")
IFS=$'\36' read -r -d '' -a answers <<<"$got" || true
[[ ${answers[0]} == $'complete -F _hushmark hushmark\n'* ]] ||
  fail 'bash: complete -p' 'complete -F _hushmark hushmark' "${answers[0]%%$'\n'*}"
answers[0]=${answers[0]#*$'\n'}
for ((i = 0; i < ${#bash_cases[@]}; i += 2)); do
  answer=${answers[i / 2]}
  answer=${answer%$'\n'}
  [[ $answer == "${bash_cases[i + 1]}" ]] || fail "bash: ${bash_cases[i]}" "${bash_cases[i + 1]}" "$answer"
done

# From a subdirectory, hide still offers paths from the repository's top.
got=$(cd src && bash --norc --noprofile -c 'source "$1"
  COMP_LINE="hushmark hide " COMP_POINT=14
  _hushmark
  printf "%s\n" "${COMPREPLY[@]}"' bash "$share/bash-completion/completions/hushmark")
[[ $got == $'notes\\ one.txt\nsrc/new.tmp' ]] || fail 'bash: hide in src/' $'notes\\ one.txt\nsrc/new.tmp' "$got"

commands=$'freeze\nhide\nlist\nunfreeze\nunhide'

# fish: it completes a command line without a terminal.
if command -v fish >/dev/null; then
  got=$(fish --no-config -c "
    set fish_complete_path $share/fish/vendor_completions.d \$fish_complete_path
    complete -C 'hushmark '
    echo ==
    complete -C 'hushmark freeze my'
    echo ==
    complete -C 'hushmark unhide '
    echo ==
    complete -C 'hushmark unhide \\*.log '" | cut -f1)
  expected="$commands"$'\n==\nmy file.txt\n==\n*.log\nwith space/\n==\nwith space/'
  [[ $got == "$expected" ]] || fail 'fish' "$expected" "$got"
else
  skip_or_fail fish
fi

# zsh: completion needs a terminal, so the test types into an interactive
# zsh on a pseudo-terminal and reads back what the terminal shows, until it
# shows the given pattern or 10 seconds have passed.
zsh_typed() {
  zsh -f -c '
    zmodload zsh/zpty
    zpty z zsh -f -i
    zpty -w z "PS1=\"> \"; fpath=($1 \$fpath); autoload -Uz compinit; compinit -u -D; unsetopt beep"
    zpty -w -n z "$2"$'"'"'\t'"'"'
    local out= chunk start=$SECONDS
    while (( SECONDS - start < 10 )) && [[ $out != $~3 ]]; do
      zpty -r -t z chunk && out+=$chunk || sleep 0.1
    done
    zpty -d z
    print -r -- "$out"' zsh "$zsh_dir" "$1" "$2" 2>&1 | tr -d '\r'
}
if command -v zsh >/dev/null; then
  got=$(zsh_typed 'hushmark ' '*unfreeze*unhide*')
  for command in $commands; do
    [[ $got == *"$command"* ]] || fail "zsh: offers $command" "$command" "$got"
  done
  [[ $got != *'command not found'* && $got != *'no such'* ]] || fail 'zsh: loads cleanly' '' "$got"
  # The one frozen path not on the line yet is inserted whole.
  got=$(zsh_typed "hushmark unfreeze 'sub/delta file.txt' docs/b\\ c.md " '*feed*')
  [[ $got == *"c.md line\$'\\n'feed"* ]] || fail 'zsh: leaves out given values' "c.md line\$'\\n'feed" "$got"
else
  skip_or_fail zsh
fi

if ((failures)); then
  echo "$failures completion check(s) failed"
  exit 1
fi
echo "completions: all checks passed"
