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
