#!/usr/bin/env bash
# Cross-builds libpq with TLS for the Windows programs, which link it statically to reach the
# central journal: OpenSSL's libssl and libcrypto from Debian's openssl source package, then libpq
# and the pieces of libpgcommon and libpgport it calls from Debian's postgresql-15, all with
# mingw-w64 and without shared libraries. Prints the folder that holds include/ and lib/; pass
# that to CMake as CONFIGURATOR_LIBPQ_MINGW.
#
# The folder is named after the two Debian source versions, the compiler's version and this
# script, so a cache made by other sources, another compiler or other build options is never
# taken for this one. Once built it is kept; remove OUTDIR to build again. Builds started
# together build once: the others wait for the first and take its result. Nothing of the folder
# it was built in, nor the time, reaches the libraries: two builds anywhere give the same bytes.
#
# Usage: mingw-libs.sh OUTDIR        (the Makefile uses build-mingw-libs; release.sh takes
#                                     CONFIGURATOR_MINGW_LIBS_CACHE when set)
# Needs: apt-get, dpkg-source (dpkg-dev), perl, make, the mingw-w64 C compiler.
set -euo pipefail

fail() {
    echo "mingw-libs: $*" >&2
    exit 1
}

[ $# -eq 1 ] && [ -n "$1" ] || fail "usage: mingw-libs.sh OUTDIR"
mkdir -p "$1" || fail "cannot make $1"
out=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
host=x86_64-w64-mingw32

for tool in perl:perl make:make $host-gcc:gcc-mingw-w64-x86-64-posix; do
    command -v "${tool%%:*}" >/dev/null ||
        fail "${tool%%:*} is missing (Debian: ${tool#*:}): scripts/install-deps.sh --windows" \
            "installs it"
done

exec 9>"$out/.lock"
flock 9

ssl_tree=$("$here/debian-source.sh" openssl "$out/source") || fail "no openssl source"
pg_tree=$("$here/debian-source.sh" postgresql-15 "$out/source") || fail "no postgresql-15 source"
ssl_version=$(cat "$ssl_tree.DEBIAN-VERSION")
pg_version=$(cat "$pg_tree.DEBIAN-VERSION")
key=$( (echo "$ssl_version $pg_version"; $host-gcc --version | head -n 1; cat "$0") |
      sha256sum | cut -c 1-12)
result=$out/libpq-$pg_version-openssl-$ssl_version-$key
if [ -s "$result/lib/libpq.a" ]; then
    echo "$result"
    exit 0
fi

work=$out/work
rm -rf "$work"
mkdir -p "$work"
cp -a "$ssl_tree" "$work/openssl"
cp -a "$pg_tree" "$work/postgresql"
# Both compile each file by its path relative to the folder of its Makefile, without debug
# information, so no file name the compiler writes (__FILE__ in OpenSSL's errors) holds this
# build's folder; OpenSSL's note of its build time is this one, not the clock's.
export SOURCE_DATE_EPOCH=0
jobs=${JOBS:-2}

started=$SECONDS
echo "mingw-libs: building OpenSSL $ssl_version for $host (a few minutes, once)" >&2
# Only what libpq needs: no DLLs, no loadable modules or engines, no tests (build_libs builds
# neither the tools nor the manuals), and none of the ciphers, protocols and formats a
# connection to PostgreSQL never meets, which halves the build. The configuration it reads at
# start lies where only an administrator may write, not in \usr\local\ssl of whatever drive
# the program runs from.
(cd "$work/openssl" && unset MAKELEVEL MAKEFLAGS MFLAGS &&
    ./Configure mingw64 no-shared no-module no-engine no-legacy no-tests \
        no-afalgeng no-capieng no-aria no-bf no-camellia no-cast no-cms no-comp no-ct no-dtls \
        no-ec2m no-idea no-mdc2 no-ocsp no-rc5 no-rfc3779 no-sctp no-seed no-siphash no-sm2 \
        no-sm3 no-sm4 no-srp no-ts no-whirlpool --cross-compile-prefix=$host- --libdir=lib \
        --prefix="C:/Program Files/OpenSSL" --openssldir="C:/Program Files/Common Files/SSL" \
        -O2 &&
    make -j "$jobs" build_libs) >"$work/openssl.log" 2>&1 ||
    fail "building OpenSSL failed: see $work/openssl.log"

ssl=$work/openssl
echo "mingw-libs: building libpq $pg_version for $host" >&2
# configure's checks link test programs against the static libraries, which need the system's
# sockets and certificate store named after them.
# PostgreSQL makes its generated headers (errcodes.h, which libpq includes) only when make
# runs at the top level; called from another make (make test-wine) it would inherit that make's
# level and skip them, so they are made first, and the parent's make variables are dropped.
(cd "$work/postgresql" && unset MAKELEVEL MAKEFLAGS MFLAGS &&
    ./configure --host=$host --with-ssl=openssl --without-readline --without-zlib --without-icu \
        --without-llvm --without-gssapi --without-ldap \
        CFLAGS=-O2 CPPFLAGS="-I$ssl/include" LDFLAGS="-L$ssl" \
        LIBS="-lws2_32 -lgdi32 -lcrypt32 -lbcrypt -luser32 -ladvapi32" &&
    make -C src/backend generated-headers &&
    make -C src/port -j "$jobs" &&
    make -C src/common -j "$jobs" &&
    make -C src/interfaces/libpq -j "$jobs" all-static-lib) >"$work/libpq.log" 2>&1 ||
    fail "building libpq failed: see $work/libpq.log"

rm -rf "$result.new"
mkdir -p "$result.new/include" "$result.new/lib"
cp "$ssl/libssl.a" "$ssl/libcrypto.a" \
    "$work/postgresql/src/common/libpgcommon_shlib.a" "$work/postgresql/src/port/libpgport_shlib.a" \
    "$result.new/lib/"
# On Windows libpq's own libpq.a is the DLL's import library: the static one is made here from
# the same objects, without the DLL's version resource, which would give the programs its name.
(cd "$work/postgresql/src/interfaces/libpq" &&
    LC_ALL=C ls -- *.o | grep -vx win32ver.o | xargs $host-ar rcs "$result.new/lib/libpq.a")
# Its own small pthread for Windows has the names of the winpthreads functions that mingw-w64's
# C++ threads link, with other types: each keeps its own under a name of its own.
renames=$($host-nm "$result.new/lib/libpq.a" 2>/dev/null |
          awk '$2 == "T" && $3 ~ /^pthread_/ { printf " --redefine-sym %s=pq_%s", $3, $3 }')
[ -n "$renames" ] || fail "no pthread functions of libpq's own in its objects"
# shellcheck disable=SC2086
$host-objcopy -D $renames "$result.new/lib/libpq.a"
cp -r "$ssl/include/openssl" "$result.new/include/"
cp "$work/postgresql/src/interfaces/libpq/libpq-fe.h" \
    "$work/postgresql/src/include/postgres_ext.h" "$work/postgresql/src/include/pg_config_ext.h" \
    "$result.new/include/"
# libpq never asks how it was configured; the member that records it holds this build's folders.
$host-ar d "$result.new/lib/libpgcommon_shlib.a" config_info_shlib.o
if grep -aqF "$work" "$result.new"/lib/*.a; then
    fail "the libraries in $result.new hold the folder they were built in; they would make" \
        "the release differ with the folder it is built in"
fi
printf 'openssl %s\npostgresql-15 %s\n%s\n' "$ssl_version" "$pg_version" \
    "$($host-gcc --version | head -n 1)" >"$result.new/VERSIONS"
mv "$result.new" "$result"
rm -rf "$work"
echo "mingw-libs: built in $((SECONDS - started)) s" >&2
echo "$result"
