#!/usr/bin/env bash
# The Windows package: hushmark.exe cross-built for release with MinGW-w64,
# zipped by CPack with the README and the licence. Checks the ZIP holds
# exactly those three files, that a second build from a copy of the tree
# elsewhere, made later, gives the same bytes, that the program needs no DLL
# beyond Windows' own, and that it runs under Wine and prints its version.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
need_packages cmake g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64

build=build-windows-zip
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DHUSHMARK_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
(cd "$build" && cpack -G ZIP >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
zip=$build/hushmark-$version-windows.zip

work=$(mktemp -d)
export WINEPREFIX=$work/wine WINEDEBUG=-all
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
contents=$(cmake -E tar tf "$zip")
[[ $contents == $'LICENSE\nREADME.md\nhushmark.exe' ]] || { printf 'the ZIP holds:\n%s\n' "$contents" >&2; exit 1; }
(cd "$work" && cmake -E tar xf "$OLDPWD/$zip")
cmp -s "$work/README.md" README.md || { echo "the ZIP's README differs" >&2; exit 1; }

# The program alone, built again from another directory, later.
copy_tree "$work/tree"
sleep 2
cmake -S "$work/tree" -B "$work/tree/$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DHUSHMARK_TESTS=OFF >/dev/null
cmake --build "$work/tree/$build" -j2 --target hushmark >/dev/null
(cd "$work/tree/$build" && cpack -G ZIP >/dev/null)
same_packages "$zip" "$work/tree/$zip"

dlls=$(x86_64-w64-mingw32-objdump -p "$work/hushmark.exe" | sed -n 's/^\s*DLL Name: //p' | sort)
foreign=$(grep -viE '^(kernel32|user32|advapi32|msvcrt|ucrtbase|api-ms-win-.*)\.dll$' <<<"$dlls" || true)
[[ -z $foreign ]] || { printf 'hushmark.exe needs DLLs beyond Windows: %s\n' "$foreign" >&2; exit 1; }

# With a fixed address layout, as the test runs have it: Wine's start
# otherwise fails now and then.
answer=$(setarch "$(uname -m)" -R /usr/lib/wine/wine64 "$work/hushmark.exe" --version 2>/dev/null)
[[ $answer == "hushmark $version" ]] || { printf 'hushmark.exe --version: %q\n' "$answer" >&2; exit 1; }
echo "$(basename "$zip") ($(stat -c %s "$zip") bytes; hushmark.exe $(stat -c %s "$work/hushmark.exe") bytes, needs $(paste -sd " " <<<"$dlls")): ok"
