#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and nothing that is already there.
# Safe to run again; uses sudo only when not root.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    googletest
    libcli11-dev nlohmann-json3-dev
    libsqlite3-dev sqlite3
    libpq-dev libssl-dev  # libcrypto also hashes the profile
    postgresql postgresql-common openssl  # a throwaway server, with TLS, for the central journal's tests
    qt6-base-dev
    fonts-crosextra-carlito fonts-liberation2
    xauth xvfb
)
# p7zip-full opens the installer, for make release to check the programs it holds. SQLite is
# built for Windows from Debian's source package (scripts/sqlite-source.sh): dpkg-dev unpacks it
# and tcl puts its amalgamation together. libpq and OpenSSL likewise (scripts/mingw-libs.sh),
# with perl for OpenSSL's build.
if [ "${1:-}" = "--windows" ]; then
    packages+=(g++-mingw-w64-x86-64-posix wine64 wine nsis p7zip-full dpkg-dev tcl perl)
fi
# The Debian package: dpkg-shlibdeps and file for its dependencies, lintian to check it, man-db
# to find its manual page once installed.
if [ "${1:-}" = "--package" ]; then
    packages+=(dpkg-dev file lintian man-db)
fi
if [ "${1:-}" = "--fuzz" ]; then
    packages+=(clang-14 libclang-rt-14-dev)
fi
# make test-uart: QEMU and a static busybox for its guest (scripts/uart-test.sh downloads the
# guest's kernel package itself and unpacks it, without installing it).
if [ "${1:-}" = "--uart" ]; then
    packages+=(qemu-system-x86 busybox-static)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
