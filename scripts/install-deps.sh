#!/usr/bin/env bash
# Installs the build and test dependencies on a Debian 12 machine, as root.
# With --windows, what the Windows cross build needs instead: the MinGW-w64
# cross compiler with the posix thread model (std::thread and std::mutex
# need it), Wine to run the tests, and what scripts/build-windows-deps.sh
# builds the libraries with (tclsh generates SQLite's amalgamation).
# Idempotent: packages that are already installed are skipped, so a second
# run on the same machine costs a few dpkg queries.
set -euo pipefail

windows=
[ "${1:-}" = --windows ] && windows=1

if [ -n "$windows" ]; then
  packages=(
    g++-mingw-w64-x86-64-posix wine64
    libgnutls30  # Wine's TLS (schannel), only recommended by Wine
    build-essential cmake ninja-build pkg-config googletest tcl xz-utils bzip2
  )
else
  packages=(
    build-essential cmake ninja-build pkg-config clang-format
    clang libclang-rt-14-dev
    libfmt-dev libmbedtls-dev zlib1g-dev libminizip-dev libsqlite3-dev
    libxxhash-dev
    libcurl4-openssl-dev libgtest-dev libgmock-dev libcpp-httplib-dev
    libssl-dev unzip
    ca-certificates  # the system's roots, which the HTTPS tests add theirs to
    squid            # the forward proxy of the HTTPS tests
    curl time  # scripts/benchmark.sh: the floor's upload, the peak memory
  )
fi

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# yyjson is packaged from Debian's next release (trixie) on; its two
# packages depend only on libc6. They are fetched through a source list of
# this script's own, so the machine's own sources stay on bookworm.
if [ -z "$windows" ] && ! installed libyyjson-dev; then
  echo "install-deps: fetching libyyjson0 and libyyjson-dev from trixie"
  apt_dir=$(mktemp -d)
  trap 'rm -rf "$apt_dir"' EXIT
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
  cat >"$apt_dir/sources.list" <<'LIST'
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main
LIST
  apt_opts=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o "Dir::Etc::SourceParts=-"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache::Archives=$apt_dir/archives"
    -o "APT::Get::List-Cleanup=0"
    -o "APT::Sandbox::User=root"
  )
  as_root apt-get "${apt_opts[@]}" update -qq
  (cd "$apt_dir" && as_root apt-get "${apt_opts[@]}" download libyyjson0 libyyjson-dev)
  as_root dpkg -i "$apt_dir"/libyyjson0_*.deb "$apt_dir"/libyyjson-dev_*.deb
fi
