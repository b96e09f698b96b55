#!/usr/bin/env bash
# Makes SQLite's single-file amalgamation (sqlite3.c, sqlite3.h) from Debian's own sqlite3
# source package, for the Windows builds, which have no system SQLite to link. Prints the folder
# that holds it, OUTDIR/amalgamation; pass that to CMake as CONFIGURATOR_SQLITE_AMALGAMATION.
#
# The source comes from scripts/debian-source.sh. Once made, the amalgamation is kept and used as
# it is; remove OUTDIR to make it again, e.g. after Debian updates its sqlite3.
#
# Usage: sqlite-source.sh OUTDIR        (the Makefile uses build-sqlite)
# Needs: apt-get, dpkg-source (dpkg-dev), tclsh (tcl), a C compiler and make.
set -euo pipefail

fail() {
    echo "sqlite-source: $*" >&2
    exit 1
}

[ $# -eq 1 ] && [ -n "$1" ] || fail "usage: sqlite-source.sh OUTDIR"
mkdir -p "$1" || fail "cannot make $1"
out=$(cd "$1" && pwd)
result=$out/amalgamation

done_already() { [ -s "$result/sqlite3.c" ] && [ -s "$result/sqlite3.h" ]; }
if done_already; then
    echo "$result"
    exit 0
fi

# Two builds started together make it once: the second waits and then takes the first's.
exec 9>"$out/.lock"
flock 9
if done_already; then
    echo "$result"
    exit 0
fi

for tool in tclsh:tcl make:make cc:gcc; do
    command -v "${tool%%:*}" >/dev/null ||
        fail "${tool%%:*} is missing (Debian: ${tool#*:}): scripts/install-deps.sh --windows" \
            "installs it"
done

tree=$("$(dirname "$0")/debian-source.sh" sqlite3 "$out/source") || fail "no sqlite3 source"
work=$out/work
rm -rf "$work"
mkdir -p "$work/src"
cp -a "$tree" "$work/src/sqlite3"

# configure only writes the Makefile that knows how to put the amalgamation together; nothing
# it finds about this machine reaches sqlite3.c, which the Windows build compiles.
(cd "$work/src/sqlite3" && ./configure && make sqlite3.c) >"$work/build.log" 2>&1 ||
    fail "making sqlite3.c failed: see $work/build.log"

rm -rf "$result.new"
mkdir "$result.new"
cp "$work/src/sqlite3/sqlite3.c" "$work/src/sqlite3/sqlite3.h" "$result.new/"
cp "$tree.DEBIAN-VERSION" "$result.new/DEBIAN-VERSION"
mv "$result.new" "$result"
rm -rf "$work"
echo "$result"
