#!/usr/bin/env bash
# The program and its test suite built as a distribution builds them for its
# other architectures, with Debian's cross compilers: 32-bit x86 (run by the
# x86-64 kernel itself), 64-bit ARM, 32-bit ARM (whose char is unsigned) and
# big-endian s390x (run under qemu-user through binfmt_misc). The builds are
# plain ones: the sanitizers' runtimes do not work under emulation. Each
# release program must also be static and report its version.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
# The test programs run the host's git and strace; GoogleTest is built for
# each target from its source package.
need_packages cmake git strace acl googletest qemu-user qemu-user-binfmt \
  g++-i686-linux-gnu g++-aarch64-linux-gnu g++-arm-linux-gnueabihf g++-s390x-linux-gnu

# The programs that the test programs start are run by the kernel, which
# hands a foreign one to its emulator through binfmt_misc: mounted and told
# of the three emulators here where no service of the machine has done it.
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
  mount -t binfmt_misc binfmt_misc "$binfmt"
fi
for emulator in qemu-aarch64 qemu-arm qemu-s390x; do
  if [ ! -e "$binfmt/$emulator" ]; then
    cat "/usr/lib/binfmt.d/$emulator.conf" >"$binfmt/register"
  fi
done

version=$(sed -n 's/^project(hushmark VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
summary=()
# architecture, GNU triple, the machine that readelf names
for target in "i386 i686-linux-gnu Intel 80386" "arm64 aarch64-linux-gnu AArch64" \
  "armhf arm-linux-gnueabihf ARM" "s390x s390x-linux-gnu IBM S/390"; do
  read -r arch triple machine <<<"$target"
  echo "== $arch"
  start=$SECONDS
  mkdir -p "build-$arch"
  log="build-$arch/workflow.log"
  if ! nice cmake --workflow --preset "$arch" >"$log" 2>&1; then
    tail -n 100 "$log"
    echo "$arch: the build or its tests failed (all of it in $log)" >&2
    exit 1
  fi
  seconds=$((SECONDS - start))
  # The counts, and every case that did not run with the reason it gave.
  sed -n '/tests passed/,$p' "$log"
  grep -h -A1 ': Skipped$' "build-$arch"/Testing/Temporary/LastTest.log | grep -v '^--$' || true

  # The release program: the target's machine, no program interpreter, no
  # shared library, and its version line.
  program="build-$arch/hushmark"
  header=$("$triple-readelf" -h -l -d "$program")
  grep -q "Machine: *$machine\$" <<<"$header" || { echo "$program: not for $machine" >&2; exit 1; }
  if grep -Eq 'INTERP|\(NEEDED\)' <<<"$header"; then
    echo "$program is not static" >&2
    exit 1
  fi
  reported=$("$program" --version)
  [ "$reported" = "hushmark $version" ] || { echo "$program --version: $reported" >&2; exit 1; }

  counts=$(grep -E '^[0-9]+% tests passed' "$log")
  skipped=$(grep -c '(Skipped)$' "$log" || true)
  summary+=("$arch: $counts, $skipped skipped, $seconds s to build and test; static, $reported")
done
printf '%s\n' "${summary[@]}"
