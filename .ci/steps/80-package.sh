#!/usr/bin/env bash
# The Debian package made by CPack: its control fields, its files (unpacked
# with dpkg-deb), its MIT licence, the unpacked program run against a real
# repository, its completions, lintian with no error, and a second build
# from a copy of the tree elsewhere, made later, that gives the same bytes.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
need_packages g++ cmake git dpkg-dev lintian zsh fish

cmake -S . -B build >/dev/null && cmake --build build -j2 >/dev/null
(cd build && cpack -G DEB >/dev/null)
version=$(build/hushmark --version)
version=${version#hushmark }
deb=build/hushmark_${version}_$(dpkg --print-architecture).deb

field() { dpkg-deb -f "$deb" "$1"; }
check() {
  if [[ $2 != "$3" ]]; then
    printf '%s: expected %q, got %q\n' "$1" "$3" "$2" >&2
    exit 1
  fi
}
check Package "$(field Package)" hushmark
check Version "$(field Version)" "$version"
check Section "$(field Section)" vcs
check Depends "$(field Depends)" git
check Maintainer "$(field Maintainer)" 'The hushmark developers <developers@hushmark.invalid>'
[[ $(field Description) == *exclude\ file* ]] || { echo "Description: $(field Description)" >&2; exit 1; }

root=$(mktemp -d)
again=$(mktemp -d)
trap 'rm -rf "$root" "$again"' EXIT
dpkg-deb -x "$deb" "$root"
for file in usr/bin/hushmark usr/share/man/man1/hushmark.1.gz \
  usr/share/bash-completion/completions/hushmark usr/share/fish/vendor_completions.d/hushmark.fish \
  usr/share/zsh/vendor-completions/_hushmark usr/share/doc/hushmark/copyright; do
  [[ -f $root/$file ]] || { echo "the package lacks $file" >&2; exit 1; }
done
cmp -s "$root/usr/bin/hushmark" build/hushmark || { echo "the package's program is not build/hushmark" >&2; exit 1; }
if objdump -h build/hushmark | grep -qw '\.comment'; then
  echo "build/hushmark keeps its .comment section" >&2
  exit 1
fi

# The copyright file is machine-readable and grants the MIT licence in the
# words of LICENSE.
copyright=$root/usr/share/doc/hushmark/copyright
grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$copyright" &&
  grep -qx 'License: MIT' "$copyright" || { echo "the copyright file names no MIT licence" >&2; exit 1; }
check 'the licence text' "$(awk '/^License: MIT$/ { text = ""; next } { text = text $0 "\n" } END { printf "%s", text }' \
  "$copyright" | sed 's/^ //; s/^\.$//')" "$(sed '1,/^Copyright/d' LICENSE | sed '/./,$!d')"

# The unpacked program at work in a real repository.
repo=$root/repo
git init -q "$repo"
(
  cd "$repo"
  export HOME=$root GIT_CONFIG_NOSYSTEM=1
  touch tracked.txt && git add tracked.txt
  "$root/usr/bin/hushmark" hide 'local notes/'
  "$root/usr/bin/hushmark" freeze tracked.txt
  check list "$("$root/usr/bin/hushmark" list)" $'hide\tlocal notes/\nfreeze\ttracked.txt'
)
HUSHMARK_REQUIRE_SHELLS=1 bash tests/completion/completion_test.sh "$root/usr"

status=0
report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
grep -v '^running with root privileges' <<<"$report" || true
((status == 0)) || { echo "lintian reports errors" >&2; exit 1; }

# The same commit built again from another directory, later: its package's
# time stamps come from the commit, and no path of either tree is in it.
copy_tree "$again/tree"
sleep 2
cmake -S "$again/tree" -B "$again/tree/build-again" >/dev/null
cmake --build "$again/tree/build-again" -j2 >/dev/null
(cd "$again/tree/build-again" && cpack -G DEB >/dev/null)
same_packages "$deb" "$again/tree/build-again/$(basename "$deb")"
echo "Debian package $(basename "$deb") ($(stat -c %s "$deb") bytes): ok"
