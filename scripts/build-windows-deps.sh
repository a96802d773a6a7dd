#!/usr/bin/env bash
# Builds the libraries of the Windows build, static, with the MinGW-w64
# toolchain (cmake/toolchain-mingw-w64-x86_64.cmake): the versions the Linux
# build takes from Debian, built from the upstream tarballs of Debian's own
# source packages (bookworm's; yyjson's from trixie, like install-deps.sh).
# Only the upstream tarball is fetched: Debian's patches (packaging changes,
# and for SQLite a few backported fixes) are not applied.
# GoogleTest comes from Debian's googletest package (/usr/src/googletest).
# cpp-httplib, a header for the tests, is installed the same way.
#
# Each library is built once into a prefix of its own,
#   $TLV_WINDOWS_DEPS_DIR/<toolchain>/<name>-<version>
# (default TLV_WINDOWS_DEPS_DIR: ${XDG_CACHE_HOME:-$HOME/.cache}/crashreport/windows-deps),
# outside the source tree. A stamp marks a finished prefix: later runs reuse
# it, and a new version or toolchain is a new prefix. Progress goes to
# stderr; stdout is the one line to pass as CMAKE_PREFIX_PATH.
#   JOBS  parallel compile jobs (default 2)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
toolchain_file=$repo/cmake/toolchain-mingw-w64-x86_64.cmake
jobs=${JOBS:-2}
triplet=x86_64-w64-mingw32

# name, Debian source package, release, upstream version.
deps=(
  "zlib zlib bookworm 1.2.13"
  "minizip zlib bookworm 1.2.13"
  "mbedtls mbedtls bookworm 2.28.3"
  "sqlite3 sqlite3 bookworm 3.40.1"
  "fmt fmtlib bookworm 9.1.0"
  "yyjson yyjson trixie 0.10.0"
  "xxhash xxhash bookworm 0.8.1"
  "httplib cpp-httplib bookworm 0.11.4"
)

say() { echo "build-windows-deps: $*" >&2; }

# A rebuilt compiler or runtime makes every library again.
toolchain_id=$triplet-posix-gcc-$(dpkg-query -W -f='${Version}' gcc-mingw-w64-x86-64-posix)
cache=${TLV_WINDOWS_DEPS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/crashreport/windows-deps}
root=$cache/$toolchain_id
mkdir -p "$root"
# Another run on the same cache waits here until that one has finished.
exec 9>"$root/.lock"
flock 9

# Builds run in a scratch directory that is removed however the script ends;
# a failing step shows the end of its log.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run_logged() {
  local log=$1
  shift
  if ! "$@" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    say "failed: $*"
    return 1
  fi
}

# apt keeps its state (source indexes, package cache) in the cache, so the
# machine's own sources and cache are left alone and a second download of
# the indexes is only a check for changes.
apt_dir=$cache/apt
apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=-"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "APT::Get::List-Cleanup=0"
  -o "APT::Sandbox::User=root"
)
update_sources() {
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  cat >"$apt_dir/sources.list" <<'LIST'
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main
LIST
  apt-get "${apt_opts[@]}" update -qq >&2
}

fetch_source() {  # package release version -> path of the upstream tarball
  local package=$1 release=$2 version=$3
  local dir=$cache/sources/$package-$version
  mkdir -p "$dir"
  # Only the upstream tarball, checked against the signed index.
  (cd "$dir" && apt-get "${apt_opts[@]}" source --download-only --tar-only -qq \
    "$package/$release" >&2)
  # Debian marks a repacked tarball (+ds, .dfsg); the upstream version
  # before the mark must be the one asked for.
  local tarball
  tarball=$(find "$dir" -maxdepth 1 -name "${package}_${version}[.+]*orig.tar.*")
  if [ -z "$tarball" ]; then
    say "$package in $release is not version $version:" \
      "$(ls "$dir")"
    return 1
  fi
  echo "$tarball"
}

unpack() {  # tarball -> source directory
  local dest
  dest=$(mktemp -d "$work/src.XXXX")
  tar -xf "$1" -C "$dest" --strip-components=1
  echo "$dest"
}

cmake_build() {  # source prefix log [cmake arguments...]
  local src=$1 prefix=$2 log=$3
  shift 3
  local build
  build=$(mktemp -d "$work/build.XXXX")
  run_logged "$log" cmake -S "$src" -B "$build" -G Ninja \
    --toolchain "$toolchain_file" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
  run_logged "$log" cmake --build "$build" -j "$jobs"
  run_logged "$log" cmake --install "$build"
}

build_zlib() {  # source prefix log
  local src=$1 prefix=$2 log=$3
  local build
  build=$(mktemp -d "$work/build.XXXX")
  # zlib's CMake build always adds the DLL, whose resource file Debian's
  # repacked tarball does not have: build the static library alone and
  # install it as libz.a, the name zlib.pc and minizip link.
  run_logged "$log" cmake -S "$src" -B "$build" -G Ninja \
    --toolchain "$toolchain_file" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DSKIP_INSTALL_LIBRARIES=ON \
    -DINSTALL_PKGCONFIG_DIR="$prefix/lib/pkgconfig"
  run_logged "$log" cmake --build "$build" --target zlibstatic -j "$jobs"
  run_logged "$log" cmake --install "$build"
  install -D -m 0644 "$build/libzlibstatic.a" "$prefix/lib/libz.a"
}

build_minizip() {  # source prefix log version
  local src=$1/contrib/minizip prefix=$2 log=$3 version=$4
  local zlib_prefix=$root/zlib-$version
  # minizip's own build is autotools for the host; the project gives
  # minizip its own file layer, so the three portable sources are all it
  # needs (not iowin32.c, not the command-line tools).
  local objects=()
  for c in ioapi zip unzip; do
    run_logged "$log" "$triplet-gcc-posix" -O2 -I"$zlib_prefix/include" \
      -c "$src/$c.c" -o "$work/$c.o"
    objects+=("$work/$c.o")
  done
  mkdir -p "$prefix/lib/pkgconfig" "$prefix/include/minizip"
  run_logged "$log" "$triplet-ar" rcs "$prefix/lib/libminizip.a" "${objects[@]}"
  install -m 0644 "$src"/{ioapi,zip,unzip,crypt}.h "$prefix/include/minizip"
  # The same layout as Debian's libminizip-dev: headers included as
  # <zip.h> from include/minizip, zlib as a requirement.
  cat >"$prefix/lib/pkgconfig/minizip.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include/minizip

Name: minizip
Description: Minizip zip file manipulation library
Version: $version
Requires.private: zlib
Libs: -L\${libdir} -lminizip
Cflags: -I\${includedir}
PC
}

build_mbedtls() {  # source prefix log
  cmake_build "$1" "$2" "$3" -DENABLE_PROGRAMS=OFF -DENABLE_TESTING=OFF \
    -DMBEDTLS_FATAL_WARNINGS=OFF -DUSE_SHARED_MBEDTLS_LIBRARY=OFF
}

build_sqlite3() {  # source prefix log
  local src=$1 prefix=$2 log=$3
  local build
  build=$(mktemp -d "$work/build.XXXX")
  # The tarball is SQLite's full source. Its configure cannot cross-compile
  # for MinGW (its build tools get the target's .exe suffix, which its
  # scripts do not expect), so a native configure only generates the
  # amalgamation (with the build machine's compiler and tclsh), which is
  # then cross-compiled as SQLite recommends for any other build.
  (cd "$build" && run_logged "$log" "$src/configure" --disable-tcl --disable-readline)
  run_logged "$log" make -C "$build" -j "$jobs" sqlite3.c
  run_logged "$log" "$triplet-gcc-posix" -O2 -c "$build/sqlite3.c" -o "$build/sqlite3.o"
  mkdir -p "$prefix/lib" "$prefix/include"
  run_logged "$log" "$triplet-ar" rcs "$prefix/lib/libsqlite3.a" "$build/sqlite3.o"
  install -m 0644 "$build/sqlite3.h" "$src/src/sqlite3ext.h" "$prefix/include"
}

build_fmt() {  # source prefix log
  cmake_build "$1" "$2" "$3" -DFMT_DOC=OFF -DFMT_TEST=OFF -DFMT_INSTALL=ON
}

build_yyjson() {  # source prefix log
  cmake_build "$1" "$2" "$3"
}

build_xxhash() {  # source prefix log version
  local src=$1 prefix=$2 log=$3 version=$4
  # The library is the one source file; its Makefile builds for the host
  # and adds the command-line tool, of no use here.
  run_logged "$log" "$triplet-gcc-posix" -O2 -c "$src/xxhash.c" -o "$work/xxhash.o"
  mkdir -p "$prefix/lib/pkgconfig" "$prefix/include"
  run_logged "$log" "$triplet-ar" rcs "$prefix/lib/libxxhash.a" "$work/xxhash.o"
  install -m 0644 "$src/xxhash.h" "$src/xxh3.h" "$prefix/include"
  # The name and layout of Debian's libxxhash-dev.
  cat >"$prefix/lib/pkgconfig/libxxhash.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: xxhash
Description: extremely fast hash algorithm
Version: $version
Libs: -L\${libdir} -lxxhash
Cflags: -I\${includedir}
PC
}

# cpp-httplib, for the tests' in-process HTTP servers: one header, installed
# with its CMake package. Debian's libcpp-httplib-dev splits it into a
# header of declarations and a shared library, of no use to a cross build.
build_httplib() {  # source prefix log
  cmake_build "$1" "$2" "$3" -DHTTPLIB_COMPILE=OFF \
    -DHTTPLIB_USE_OPENSSL_IF_AVAILABLE=OFF -DHTTPLIB_USE_ZLIB_IF_AVAILABLE=OFF \
    -DHTTPLIB_USE_BROTLI_IF_AVAILABLE=OFF
}

prefixes=()
for entry in "${deps[@]}"; do
  read -r name package release version <<<"$entry"
  prefix=$root/$name-$version
  prefixes+=("$prefix")
  stamp=$prefix/.built
  if [ -f "$stamp" ]; then
    continue
  fi
  say "building $name $version into $prefix"
  rm -rf "$prefix"
  log=$work/$name.log
  start=$SECONDS
  if [ -z "${sources_updated:-}" ]; then
    update_sources
    sources_updated=1
  fi
  tarball=$(fetch_source "$package" "$release" "$version")
  src=$(unpack "$tarball")
  "build_$name" "$src" "$prefix" "$log" "$version"
  echo "$name $version from $(basename "$tarball")" >"$stamp"
  say "built $name $version in $((SECONDS - start)) s"
done

# GoogleTest, from the sources Debian installs; its version is the
# package's upstream version.
gtest_version=$(dpkg-query -W -f='${Version}' googletest)
gtest_version=${gtest_version%%-*}
prefix=$root/googletest-$gtest_version
prefixes+=("$prefix")
if [ ! -f "$prefix/.built" ]; then
  say "building googletest $gtest_version into $prefix"
  rm -rf "$prefix"
  start=$SECONDS
  cmake_build /usr/src/googletest "$prefix" "$work/googletest.log" -DBUILD_GMOCK=ON
  echo "googletest $gtest_version from /usr/src/googletest" >"$prefix/.built"
  say "built googletest $gtest_version in $((SECONDS - start)) s"
fi

say "prefixes under $root"
(IFS=';' && echo "${prefixes[*]}")
