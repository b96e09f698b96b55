#!/usr/bin/env bash
# Builds a release of the commit checked out here (HEAD) into dist/: the Debian package, the two
# Windows programs and their installer, the source archive, and SHA256SUMS over all of them.
#
# The build works on the commit itself, exported with git archive into build-release/src, so
# that what is released is exactly the source archive beside it, whatever else this working
# tree holds. Every time stamp that reaches an artifact is the commit's (SOURCE_DATE_EPOCH), and
# the build folders are mapped to fixed names (cmake/reproducible.cmake): the same commit built
# again, anywhere and at any time, gives the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
# CPack gives the package's ar members the modes of the files it wrote, which follow the umask:
# under 002, common on CI runners, they would be group-writable and the package other bytes.
umask 022
root=$PWD
jobs=${JOBS:-2}

step() { printf '\n== %s\n' "$*"; }
fail() {
    echo "release: $*" >&2
    exit 1
}

./scripts/install-deps.sh --package
./scripts/install-deps.sh --windows

commit=$(git rev-parse --verify HEAD^{commit})
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
version=$(git show "$commit:CMakeLists.txt" |
          sed -n 's/^project([^)]*VERSION \([0-9][0-9.]*\).*/\1/p')
[ -n "$version" ] || fail "no project version in CMakeLists.txt of $commit"
name=transmitter-configurator-$version
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "release: this working tree has changes that are not committed; they are not in the"
    echo "release, which is built from $commit alone."
fi

work=$root/build-release
src=$work/src
# The export is kept while the commit stays the same, so that building the same release again
# only rebuilds what is missing.
if [ "$(cat "$work/commit" 2>/dev/null)" != "$commit" ]; then
    step "Exporting $commit into build-release/src"
    rm -rf "$work"
    mkdir -p "$src"
    git archive --format=tar "$commit" | tar -x -C "$src"
    echo "$commit" >"$work/commit"
fi

# The options are those of make package and make windows, fixed here rather than taken from
# CMAKE_FLAGS, so that a release does not depend on who builds it.
release_options=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
                 -DCONFIGURATOR_TESTS=OFF)
step "The Debian package"
cmake -S "$src" -B "$work/deb" "${release_options[@]}"
cmake --build "$work/deb" -j "$jobs" --target package

step "The Windows programs and their installer"
# SQLite, which they hold, is made from Debian's sqlite3 source into build-sqlite/, outside the
# export, and kept there across releases; the folder it lies in does not reach the programs.
sqlite=$(./scripts/sqlite-source.sh build-sqlite)
# cpp-httplib's header likewise, from Debian's source into build-httplib/; the build copies it in.
httplib=$(./scripts/debian-source.sh cpp-httplib build-httplib)
# libharu, zlib and qrcodegen for the certificates likewise, from Debian's sources, into
# build-pdf-sources/. Where apt cannot fetch them the programs make labels but no PDF: said here.
pdf=$(./scripts/pdf-sources.sh build-pdf-sources) ||
    { echo "release: the Windows programs go without certificates (no PDF sources)" >&2; pdf=""; }
# libpq and OpenSSL likewise, into build-mingw-libs/, or into the cache release-check shares
# between its clones; its folder is named after what went into it, so no other build is taken.
libpq=$(./scripts/mingw-libs.sh "${CONFIGURATOR_MINGW_LIBS_CACHE:-build-mingw-libs}")
cmake -S "$src" -B "$work/windows" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" \
    "${release_options[@]}" -DCONFIGURATOR_SQLITE_AMALGAMATION="$sqlite" \
    -DCONFIGURATOR_HTTPLIB_DIR="$httplib" -DCONFIGURATOR_PDF_SOURCES="$pdf" \
    -DCONFIGURATOR_LIBPQ_MINGW="$libpq"
windows_programs=(transmitter-configurator transmitter-cli)
cmake --build "$work/windows" -j "$jobs" --target "${windows_programs[@]}"
cmake --build "$work/windows" --target windows-installer

step "Collecting dist/"
rm -rf dist
mkdir dist
deb=$work/deb/transmitter-configurator_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb after building the package"
cp "$deb" dist/
for program in "${windows_programs[@]}"; do
    exe=$(find "$work/windows" -name "$program.exe" -type f -not -path '*/CMakeFiles/*')
    [ "$(wc -l <<<"$exe")" -eq 1 ] && [ -n "$exe" ] ||
        fail "expected one $program.exe in build-release/windows, found: ${exe:-none}"
    cp "$exe" dist/
done
installer=$work/windows/$name-win64-setup.exe
[ -f "$installer" ] || fail "no $installer after building the installer"
cp "$installer" dist/
# The programs offered beside the installer are the very bytes it installs.
rm -rf "$work/installer-contents"
7z x -y -o"$work/installer-contents" "$installer" >/dev/null
for program in "${windows_programs[@]}"; do
    cmp "dist/$program.exe" "$work/installer-contents/$program.exe" ||
        fail "the installer does not hold dist/$program.exe as built"
done
# gzip -n: no name or time of its own in the header; the members carry the commit's time.
git archive --format=tar --prefix="$name/" "$commit" | gzip -9n >"dist/$name.tar.gz"

(cd dist && LC_ALL=C sha256sum -- $(LC_ALL=C ls | grep -vx SHA256SUMS) >SHA256SUMS)

step "Release $version of $commit, in dist/ (SHA256SUMS):"
cat dist/SHA256SUMS
