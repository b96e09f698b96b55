#!/usr/bin/env bash
# Proves that a release is reproducible: builds the release of HEAD twice, in two fresh clones
# under different paths and one after the other, the second with another umask, time zone and
# locale, and fails if any artifact differs, naming each. Then checks the first build's
# SHA256SUMS with sha256sum -c, and that every artifact carries the project's version. The first
# build's artifacts end up in dist/ here, for the package and installer checks that follow.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

fail() {
    echo "release-check: $*" >&2
    exit 1
}

commit=$(git rev-parse --verify HEAD^{commit})
version=$(git show "$commit:CMakeLists.txt" |
          sed -n 's/^project([^)]*VERSION \([0-9][0-9.]*\).*/\1/p')
scratch=$(mktemp -d /tmp/release-check.XXXXXX)
# Both clones take libpq and OpenSSL for Windows from this tree's cache (scripts/mingw-libs.sh),
# built once: building them in each clone would cost minutes for bytes that must come out the
# same anyway, which mingw-libs.sh's own builds show.
export CONFIGURATOR_MINGW_LIBS_CACHE=${CONFIGURATOR_MINGW_LIBS_CACHE:-$root/build-mingw-libs}
first=$scratch/first/transmitter-configurator
second=$scratch/second-build-elsewhere/tc

build() {
    local dir=$1
    git clone -q --no-checkout "$root" "$dir"
    git -C "$dir" checkout -q --detach "$commit"
    local started=$SECONDS
    make --no-print-directory -C "$dir" release JOBS="${JOBS:-2}"
    echo "release-check: built in $dir in $((SECONDS - started)) s"
}

printf '\n== First build of %s, in %s\n' "$commit" "$first"
build "$first"
printf '\n== Second build, in %s\n' "$second"
(
    umask 0002
    export TZ=Asia/Yekaterinburg LC_ALL=C.UTF-8 LANG=C.UTF-8
    build "$second"
)

printf '\n== Comparing the two builds byte for byte\n'
differ=()
while IFS= read -r name; do
    a=$first/dist/$name
    b=$second/dist/$name
    if [ ! -f "$a" ] || [ ! -f "$b" ]; then
        echo "only in one build: $name"
        differ+=("$name")
    elif cmp -s "$a" "$b"; then
        echo "identical: $name"
    else
        echo "DIFFERENT: $name ($(cmp "$a" "$b" 2>&1 | sed 's/.* differ: //'))"
        differ+=("$name")
    fi
done < <( (ls "$first/dist"; ls "$second/dist") | LC_ALL=C sort -u)
if [ ${#differ[@]} -gt 0 ]; then
    echo "Both builds are kept for a look, e.g. diffoscope A B: $first/dist $second/dist" >&2
    fail "the two builds of $commit differ in: ${differ[*]}"
fi

printf '\n== sha256sum -c SHA256SUMS\n'
(cd "$first/dist" && sha256sum -c SHA256SUMS)
listed=$(awk '{ print $2 }' "$first/dist/SHA256SUMS" | LC_ALL=C sort)
present=$(cd "$first/dist" && LC_ALL=C ls | grep -vx SHA256SUMS)
[ "$listed" = "$present" ] || fail "SHA256SUMS does not list exactly the artifacts: $listed"

printf '\n== One version: %s\n' "$version"
dist=$first/dist
deb=$dist/transmitter-configurator_${version}_$(dpkg --print-architecture).deb
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb is not version $version"
echo "package: $(basename "$deb")"
outside=$(tar -tzf "$dist/transmitter-configurator-$version.tar.gz" |
          grep -v "^transmitter-configurator-$version/" || true)
[ -z "$outside" ] || fail "the source archive holds files outside transmitter-configurator-$version/"
echo "source archive: transmitter-configurator-$version/"
# A Windows version resource holds its texts in UTF-16; the value follows its key.
for exe in "$dist"/*.exe; do
    file_version=$(strings -el "$exe" | grep -A1 -x FileVersion | sed -n 2p || true)
    [ "$file_version" = "$version" ] ||
        fail "$(basename "$exe")'s version resource says FileVersion ${file_version:-nothing}"
    echo "$(basename "$exe"): FileVersion $file_version"
done

rm -rf dist
cp -r "$dist" dist
rm -rf "$scratch"
printf '\nrelease-check: the two builds are identical; the artifacts are in dist/\n'
