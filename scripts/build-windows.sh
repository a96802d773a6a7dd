#!/usr/bin/env bash
# The Windows cross build in one command: installs the MinGW-w64 toolchain
# and Wine, builds the libraries for Windows unless they are cached
# (scripts/build-windows-deps.sh), configures and builds the preset windows
# (cmake/toolchain-mingw-w64-x86_64.cmake, in build-windows), checks that
# crashreport.exe needs no DLL beyond Windows' own and carries what
# cmake/WindowsExecutable.cmake gives it, and runs the tests under Wine.
#   JOBS             parallel jobs (default 2)
#   LINUX_BUILD_DIR  a Linux build of this tree (as ./scripts/test.sh makes
#                    it): its whole-process tests (label "process") then run
#                    again, against this build's executables under Wine. The
#                    two builds share its loopback port.
#   TLV_WINDOWS_DEPS_DIR  see scripts/build-windows-deps.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# The preset's build directory.
build_dir=build-windows
jobs=${JOBS:-2}

./scripts/install-deps.sh --windows
# The libraries' prefixes are this machine's cache, so they are not in the
# preset.
prefixes=$(JOBS=$jobs ./scripts/build-windows-deps.sh)
configure=(-DCMAKE_PREFIX_PATH="$prefixes")
linux_build=${LINUX_BUILD_DIR:-}
if [ -n "$linux_build" ]; then
  port=$(sed -n 's/^TLV_LOOPBACK_PORT:[A-Z]*=//p' "$linux_build/CMakeCache.txt")
  configure+=(-DTLV_LOOPBACK_PORT="$port")
fi
cmake --preset windows "${configure[@]}"
cmake --build --preset windows -j "$jobs"

# What a player's machine must provide: Windows' own DLLs, nothing that
# would have to ship beside the executable.
system_dll='^(KERNEL32|ADVAPI32|BCRYPT|WINHTTP|WS2_32|USER32|ntdll|msvcrt|ucrtbase)\.dll$|^api-ms-win-'
exe=$build_dir/crashreport.exe
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
echo "build-windows: crashreport.exe imports" $dlls
if grep -Eiv "$system_dll" <<<"$dlls"; then
  echo "build-windows: crashreport.exe needs a DLL that Windows does not have" >&2
  exit 1
fi

# What the executable carries (cmake/WindowsExecutable.cmake), read back
# with the toolchain's own tools and compared with what the build was given.
refuse() {
  echo "build-windows: crashreport.exe $*" >&2
  exit 1
}
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build_dir/CMakeCache.txt"; }
sections=$(x86_64-w64-mingw32-objdump -h "$exe")
grep -q ' \.rsrc ' <<<"$sections" || refuse "has no resources (.rsrc)"
# windres writes the resources as a resource script: the version fields as
# VALUE lines, the manifest as quoted lines (quotes doubled), joined here
# into its text.
resources=$(x86_64-w64-mingw32-windres -i "$exe" -O rc)
version=$(cached CMAKE_PROJECT_VERSION)
fields=(
  "FileVersion=$version" "ProductVersion=$version"
  "CompanyName=$(cached TLV_COMPANY_NAME)"
  "ProductName=$(cached TLV_PRODUCT_NAME)"
  "FileDescription=$(cached TLV_FILE_DESCRIPTION)"
  "OriginalFilename=crashreport.exe"
)
for field in "${fields[@]}"; do
  grep -qF "VALUE \"${field%%=*}\", \"${field#*=}\"" <<<"$resources" ||
    refuse "version information lacks ${field%%=*} \"${field#*=}\""
done
grep -q "FILEVERSION ${version//./, }\$" <<<"$resources" ||
  refuse "has not the file version $version"
manifest=$(sed -n '/^1 24/,/^END/p' <<<"$resources" |
  sed -n 's/^ *"\(.*\)"$/\1/p' | sed 's/""/"/g; s/\\n$//' | tr -d '\n')
for setting in 'level="asInvoker"' '>true</longPathAware>' \
  '>UTF-8</activeCodePage>' "version=\"$version\"" \
  '35138b9a-5d96-4fbd-8e2d-a2440225f93a' '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a'; do
  grep -qF "$setting" <<<"$manifest" || refuse "manifest lacks $setting"
done
# ASLR with 64-bit addresses (HIGH_ENTROPY_VA 0x20, DYNAMIC_BASE 0x40) and
# no executable data (NX_COMPAT 0x100).
characteristics=$(sed -n 's/^DllCharacteristics\s*//p' <<<"$headers")
(((0x$characteristics & 0x160) == 0x160)) ||
  refuse "lacks ASLR or NX (DllCharacteristics $characteristics)"
# Debug information only in crashreport.debug, which the executable names
# with the debug file's CRC-32 (the last four bytes of .gnu_debuglink; gzip's
# trailer holds the same CRC).
if grep -q ' \.debug_' <<<"$sections"; then
  refuse "carries debug information"
fi
debug_file=$build_dir/crashreport.debug
grep -q ' \.debug_info ' <(x86_64-w64-mingw32-objdump -h "$debug_file") ||
  refuse "has no debug information in $debug_file"
scratch=$(mktemp -d)
x86_64-w64-mingw32-objcopy --dump-section .gnu_debuglink="$scratch/link" \
  "$exe" "$scratch/copy.exe"
linked_name=$(head -c -4 "$scratch/link" | tr -d '\0')
linked_crc=$(tail -c 4 "$scratch/link" | od -An -tx4 | tr -d ' ')
rm -rf "$scratch"
crc=$(gzip -c "$debug_file" | tail -c 8 | head -c 4 | od -An -tx4 | tr -d ' ')
[ "$linked_name" = crashreport.debug ] && [ "$linked_crc" = "$crc" ] ||
  refuse "links $linked_name ($linked_crc), not $debug_file ($crc)"
# No certificate root of its own: the HTTPS tests trust theirs from outside.
./scripts/check-no-test-root.sh "$exe"
echo "build-windows: crashreport.exe $version carries its version" \
  "information, manifest, ASLR and NX, and no certificate root; debug" \
  "information in crashreport.debug"

# The tests run under Wine (the toolchain file's CMAKE_CROSSCOMPILING_EMULATOR,
# whose settings these are). A Wine process that finds no wineserver starts
# one, with Wine's services, and these hold the test's output open until they
# exit a few seconds later, so ctest would wait for them after every test.
# One persistent server for the whole run, its services started here with
# their output elsewhere, avoids that; its first start also makes the Wine
# prefix.
wine_prefix=$(cd "$build_dir" && pwd)/wineprefix
wine_env=(
  env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$wine_prefix" WINEDEBUG=-all
  "WINEDLLOVERRIDES=mscoree,mshtml="
)
mkdir -p "$wine_prefix"
# A server left running on this prefix (by an interrupted run, say) would
# refuse the new one.
"${wine_env[@]}" /usr/lib/wine/wineserver --kill 2>/dev/null || true
"${wine_env[@]}" /usr/lib/wine/wineserver --persistent
trap '"${wine_env[@]}" /usr/lib/wine/wineserver --kill' EXIT
"${wine_env[@]}" /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1

ctest --preset windows -j "$jobs"

# The whole-process tests of the Linux build, each starting this build's
# executable under Wine (test/crashreport_under_test.h). The watchdog's
# two-minute test is left out, as in the sanitizer builds.
if [ -n "$linux_build" ]; then
  "${wine_env[@]}" TLV_WINDOWS_BUILD_DIR="$(cd "$build_dir" && pwd)" \
    ctest --test-dir "$linux_build" --output-on-failure -L '^process$'
fi
