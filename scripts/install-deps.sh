#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and nothing that is already there.
# Safe to run again; uses sudo only when not root.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    googletest
    libcli11-dev nlohmann-json3-dev
    libcpp-httplib-dev  # the station's operator page
    libsqlite3-dev sqlite3
    libpq-dev libssl-dev  # libcrypto also hashes the profile
    libhpdf-dev libqrcodegen-dev fonts-dejavu-core fonttools  # certificates: PDF, QR code, font
    poppler-utils qpdf zbar-tools  # the certificates' tests read them as their readers would
    postgresql postgresql-common openssl  # a throwaway server, with TLS, for the central journal's tests
    qt6-base-dev
    fonts-crosextra-carlito fonts-liberation2
    xauth xvfb
    # the operator page's test: a real browser, and promtool for its metrics
    chromium chromium-driver python3-selenium prometheus
)
# p7zip-full opens the installer, for make release to check the programs it holds. SQLite is
# built for Windows from Debian's source package (scripts/sqlite-source.sh): dpkg-dev unpacks it
# and tcl puts its amalgamation together; cpp-httplib's header comes the same way. libpq and
# OpenSSL likewise (scripts/mingw-libs.sh), with perl for OpenSSL's build.
if [ "${1:-}" = "--windows" ]; then
    packages+=(g++-mingw-w64-x86-64-posix wine64 wine nsis p7zip-full dpkg-dev tcl curl perl)
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
