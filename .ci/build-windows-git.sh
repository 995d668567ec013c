#!/usr/bin/env bash
# Cross-builds git.exe from Debian's git source package with MinGW-w64, for
# the Windows end-to-end cases to run against a real git under Wine.
# usage: .ci/build-windows-git.sh   -> prints the directory holding bin/git.exe
#
# The result is cached outside the clone, keyed by the source package's
# version, so that later runs only look the version up. The source comes
# through a private apt configuration whose deb-src entries mirror the
# system's Debian entries; the system's own sources are left untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
source .ci/lib.sh
need_packages dpkg-dev g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
  libz-mingw-w64-dev make

if [ -n "${HUSHMARK_CI_CACHE:-}" ]; then
  cache=$HUSHMARK_CI_CACHE
elif mkdir -p /var/cache/hushmark-ci 2>/dev/null && [ -w /var/cache/hushmark-ci ]; then
  cache=/var/cache/hushmark-ci
else
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/hushmark-ci
fi
apt_dir=$cache/apt
mkdir -p "$apt_dir/lists/partial"
# One run at a time: another waits and then finds the build made.
exec 9>"$cache/lock"
flock 9

# deb-src twins of the system's Debian package indexes ("URI suite component"),
# read after an update of the system's lists when there are none yet.
mirror_indexes() {
  apt-cache policy | awk '
    $1 ~ /^[0-9]+$/ && $2 ~ /^https?:/ && $NF == "Packages" { entry = $2 " " $3; next }
    /^ *release / && /o=Debian,/ && entry != "" { print entry }
    { entry = "" }' | sort -u |
    while read -r uri suite_component; do
      echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
        "$uri ${suite_component%%/*} ${suite_component#*/}"
    done >"$apt_dir/sources.list"
}
mirror_indexes
if [ ! -s "$apt_dir/sources.list" ]; then
  apt-get -o DPkg::Lock::Timeout=600 -qq update >&2
  mirror_indexes
fi
[ -s "$apt_dir/sources.list" ] || { echo "no Debian package index to mirror" >&2; exit 1; }
apt_options=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o Dir::Etc::sourceparts=-
  -o "Dir::State::Lists=$apt_dir/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
  -o APT::Sandbox::User=root)

if ! apt-get "${apt_options[@]}" -qq update >&2; then
  # Unreachable package lists: a build made before still serves.
  made=$(find "$cache" -mindepth 3 -maxdepth 3 -path '*/git-windows-*/bin/git.exe' | sort -V |
    tail -n 1)
  [ -n "$made" ] || exit 1
  echo "git's source package cannot be looked up: using the git.exe built before" >&2
  dirname "$(dirname "$made")"
  exit 0
fi
version=$(apt-cache "${apt_options[@]}" showsrc git | awk '/^Version:/ { print $2 }' |
  sort -V | tail -n 1)
[ -n "$version" ] || { echo "no git source package in $apt_dir/sources.list" >&2; exit 1; }
# A Windows path cannot hold the epoch's colon.
prefix=$cache/git-windows-${version//:/_}
if [ -x "$prefix/bin/git.exe" ]; then
  echo "$prefix"
  exit 0
fi

# A build that was cut short goes on where it stopped.
work=$cache/build-${version//:/_}
start=$SECONDS
if [ ! -d "$work/source" ]; then
  rm -rf "$work"
  mkdir -p "$work/fetch"
  (cd "$work/fetch" && apt-get "${apt_options[@]}" -qq source "git=$version" >&2)
  mv "$(find "$work/fetch" -mindepth 1 -maxdepth 1 -type d -name 'git-*' | head -n 1)" \
    "$work/source"
  rm -rf "$work/fetch"
fi
source_dir=$work/source

# Git includes some Windows headers in mixed case; MinGW-w64's are lower
# case: a one-line header of each mixed-case name includes the other.
mkdir -p "$work/shim"
grep -rhoE '^#include <[A-Za-z0-9_]+[.]h>' "$source_dir" --include='*.[ch]' |
  sed -E 's/^#include <(.*)>$/\1/' | sort -u |
  while read -r header; do
    lower=${header,,}
    if [ "$header" != "$lower" ] && [ -e "/usr/x86_64-w64-mingw32/include/$lower" ]; then
      echo "#include <$lower>" >"$work/shim/$header"
    fi
  done
# Read after config.mak.uname: git's MSYS tty detection crashes under Wine
# when a standard stream is a pipe from the Linux side.
cat >"$source_dir/config.mak" <<EOF
COMPAT_CFLAGS := \$(filter-out -DDETECT_MSYS_TTY,\$(COMPAT_CFLAGS))
BASIC_CFLAGS += -I$work/shim
EOF

# Without debugging information (the program is stripped): a shorter build.
tool=x86_64-w64-mingw32
MSYSTEM=MINGW64 make -C "$source_dir" -j"$(nproc)" -s \
  uname_S=MINGW uname_M=x86_64 uname_O=MINGW uname_R=3.5.0 \
  CC=$tool-gcc-posix AR=$tool-ar RANLIB=$tool-ranlib RC="$tool-windres -O coff" \
  NO_CURL=1 NO_EXPAT=1 NO_OPENSSL=1 NO_PERL=1 NO_PYTHON=1 NO_TCLTK=1 NO_GETTEXT=1 \
  NO_ICONV=1 NO_RUST=1 USE_LIBPCRE= HAVE_LIBCHARSET_H= LDFLAGS=-static CFLAGS=-O2 \
  git.exe >&2
make -C "$source_dir/templates" -s >&2

# The layout git finds its own parts by: sub-commands in libexec/git-core and
# the templates that give a new repository its info/exclude.
staging=$work/prefix
rm -rf "$staging"
mkdir -p "$staging/bin" "$staging/libexec/git-core" "$staging/share/git-core"
x86_64-w64-mingw32-strip -o "$staging/bin/git.exe" "$source_dir/git.exe"
ln "$staging/bin/git.exe" "$staging/libexec/git-core/git.exe"
cp -R "$source_dir/templates/blt" "$staging/share/git-core/templates"
rm -rf "$prefix"
mv "$staging" "$prefix"
rm -rf "$work"
echo "git.exe $version built in $((SECONDS - start)) s" >&2
echo "$prefix"
