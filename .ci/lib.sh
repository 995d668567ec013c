# Shared by .ci/run and its steps: installs Debian packages that a fresh
# machine lacks, updating the package lists at most once per CI run.
# usage: need_packages PACKAGE...   (only the ones not installed are fetched)
# A step sources this file and calls need_packages before it uses a tool.
export HUSHMARK_APT_MARK="${HUSHMARK_APT_MARK:-${TMPDIR:-/tmp}/hushmark-ci-apt-updated.$$}"
need_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  export DEBIAN_FRONTEND=noninteractive
  if [ ! -e "$HUSHMARK_APT_MARK" ]; then
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    : >"$HUSHMARK_APT_MARK"
  fi
  apt-get install -o DPkg::Lock::Timeout=600 -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# usage: copy_tree DIRECTORY
# Copies the working tree (tracked and untracked files that Git does not
# ignore, and .git) into DIRECTORY, so that a step can build the same
# commit a second time from another place.
copy_tree() {
  mkdir -p "$1"
  git ls-files -z --cached --others --exclude-standard |
    tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$1"
  cp -a .git "$1/"
}

# usage: same_packages FIRST SECOND
# Fails unless two builds' packages are byte-identical; prints both sums.
same_packages() {
  sha256sum "$1" "$2"
  cmp "$1" "$2" || { echo "two builds of one commit differ: $1 $2" >&2; return 1; }
}
