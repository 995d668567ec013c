#!/usr/bin/env bash
# The release build as the README gives it, installed into a fresh prefix:
# the program is optimised, stripped and self-contained; the install puts
# exactly the program, the manual page and three completions in place; the
# manual page formats without a warning and apropos finds it by what it does;
# the completions work in bash, zsh and fish; the README's worked example is
# what the program really prints; the uninstall target takes back every
# file and the completion directories it leaves empty, and nothing else.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
need_packages g++ cmake git file groff-base mandoc man-db zsh fish

cmake -S . -B build >/dev/null && cmake --build build -j2 >/dev/null

kind=$(file -b build/hushmark)
echo "build/hushmark: $(stat -c %s build/hushmark) bytes; $kind"
[[ $kind == *'statically linked'* || $kind == *'static-pie linked'* ]] || { echo "not static" >&2; exit 1; }
[[ $kind == *', stripped'* ]] || { echo "not stripped" >&2; exit 1; }
if ldd build/hushmark 2>/dev/null | grep -q '=>'; then
  echo "build/hushmark loads shared libraries" >&2
  exit 1
fi

prefix=$(mktemp -d)
again=$(mktemp -d)
trap 'rm -rf "$prefix" "$again"' EXIT
cmake --install build --prefix "$prefix" >/dev/null
installed=$(cd "$prefix" && find . -type f | sort)
expected='./bin/hushmark
./share/bash-completion/completions/hushmark
./share/fish/vendor_completions.d/hushmark.fish
./share/man/man1/hushmark.1
./share/zsh/site-functions/_hushmark'
if [[ $installed != "$expected" ]]; then
  printf 'installed files differ:\n%s\n' "$installed" >&2
  exit 1
fi

version=$("$prefix/bin/hushmark" --version)
grep -qF "\"$version\"" doc/hushmark.1 || { echo "doc/hushmark.1 does not name \"$version\"" >&2; exit 1; }
warnings=$(groff -man -ww -z doc/hushmark.1 2>&1; mandoc -Tlint doc/hushmark.1 2>&1) || true
if [[ -n $warnings ]]; then
  printf 'the manual page has warnings:\n%s\n' "$warnings" >&2
  exit 1
fi
mandb -q "$prefix/share/man"
for word in exclude skip-worktree; do
  [[ $(apropos -M "$prefix/share/man" "$word") == 'hushmark (1)'* ]] ||
    { echo "apropos $word does not find hushmark(1)" >&2; exit 1; }
done

HUSHMARK_REQUIRE_SHELLS=1 bash tests/completion/completion_test.sh "$prefix"
doc/example.sh --check "$prefix/bin/hushmark"

# Uninstalling, from a prefix that already holds another program's fish
# completion: that file and its directory stay, and so do the directories of
# programs and manual pages; everything else the install made goes.
mkdir -p "$again/share/fish/vendor_completions.d"
: >"$again/share/fish/vendor_completions.d/other.fish"
cmake --install build --prefix "$again" >/dev/null
cmake --build build --target uninstall >/dev/null
left=$(cd "$again" && find . -mindepth 1 | sort)
expected='./bin
./share
./share/fish
./share/fish/vendor_completions.d
./share/fish/vendor_completions.d/other.fish
./share/man
./share/man/man1'
if [[ $left != "$expected" ]]; then
  printf 'after uninstalling, the prefix holds:\n%s\n' "$left" >&2
  exit 1
fi
echo "install, manual page, completions, README example and uninstall: ok"
