#!/usr/bin/env bash
# Makes SQLite's single-file amalgamation (sqlite3.c, sqlite3.h) from Debian's own sqlite3
# source package, for the Windows builds, which have no system SQLite to link. Prints the folder
# that holds it, OUTDIR/amalgamation; pass that to CMake as CONFIGURATOR_SQLITE_AMALGAMATION.
#
# The source comes from the suites this machine installs its packages from, through an apt
# configuration of its own under OUTDIR: the system's sources and lists are left alone. Once
# made, the amalgamation is kept and used as it is; remove OUTDIR to make it again, e.g. after
# Debian updates its sqlite3.
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

for tool in apt-get:apt dpkg-source:dpkg-dev tclsh:tcl make:make cc:gcc; do
    command -v "${tool%%:*}" >/dev/null ||
        fail "${tool%%:*} is missing (Debian: ${tool#*:}): scripts/install-deps.sh --windows" \
            "installs it"
done

# The system's suites, each as a deb-src line: those of this release (its codename and the
# codename's -updates, -security...), from the one-line lists and the deb822 .sources alike.
# Other vendors' repositories carry no sqlite3 and often no sources at all. A suite listed twice
# is taken once, as apt refuses one source with two keys.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || fail "no VERSION_CODENAME in /etc/os-release to find this system's suites"
system_sources() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        # deb [options] URI SUITE COMPONENT...
        sed -E 's/#.*//' "$f" | awk '$1 == "deb" || $1 == "deb-src" {
            options = ""
            if (match($0, /\[[^]]*\]/)) {
                options = substr($0, RSTART + 1, RLENGTH - 2)
                $0 = substr($0, 1, RSTART - 1) substr($0, RSTART + RLENGTH)
            }
            signed = ""
            if (match(options, /signed-by=[^ ]+/))
                signed = substr(options, RSTART + 10, RLENGTH - 10)
            components = $4
            for (i = 5; i <= NF; i++) components = components " " $i
            print $2 "\t" $3 "\t" components "\t" signed
        }'
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        # deb822 stanzas, blank-line separated; a Signed-By holding a key itself continues on
        # indented lines, and is left to the system's keyrings here.
        awk 'function flush() {
                if (types ~ /(^| )deb(-src)?( |$)/ && enabled != "no")
                    for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++)
                        print uri[u] "\t" suite[s] "\t" components "\t" signed
                types = ""; enabled = ""; components = ""; signed = ""; nu = 0; ns = 0
            }
            /^[ \t]*#/ { next }
            /^[ \t]*$/ { flush(); next }
            /^[ \t]/ { next }
            {
                key = tolower(substr($0, 1, index($0, ":") - 1))
                value = substr($0, index($0, ":") + 1)
                gsub(/^[ \t]+|[ \t]+$/, "", value)
                if (key == "types") types = value
                else if (key == "enabled") enabled = tolower(value)
                else if (key == "components") components = value
                else if (key == "signed-by" && value ~ /^\//) signed = value
                else if (key == "uris") nu = split(value, uri, /[ \t]+/)
                else if (key == "suites") ns = split(value, suite, /[ \t]+/)
            }
            END { flush() }' "$f"
    done
}

work=$out/work
rm -rf "$work"
mkdir -p "$work/etc/sources.list.d" "$work/lists/partial" "$work/cache/archives/partial" "$work/src"
system_sources | awk -F '\t' -v codename="$codename" '
    ($2 == codename || index($2, codename "-") == 1) && !seen[$1 "\t" $2]++ {
        printf "deb-src %s%s %s %s\n", ($4 == "" ? "" : "[signed-by=" $4 "] "), $1, $2, $3
    }' >"$work/etc/sources.list"
[ -s "$work/etc/sources.list" ] ||
    fail "no $codename suite in /etc/apt/sources.list or /etc/apt/sources.list.d to fetch" \
        "sqlite3's source from"

apt_options=(
    -o "Dir::Etc::SourceList=$work/etc/sources.list"
    -o "Dir::Etc::SourceParts=$work/etc/sources.list.d"
    -o "Dir::State::Lists=$work/lists"
    -o "Dir::Cache=$work/cache"
    -o "Dir::Cache::pkgcache="
    -o "Dir::Cache::srcpkgcache="
)
# Root would hand the downloads to the _apt user, who may not enter this folder.
[ "$(id -u)" -ne 0 ] || apt_options+=(-o APT::Sandbox::User=root)

apt-get "${apt_options[@]}" update >"$work/apt-update.log" 2>&1 ||
    fail "apt-get update of $work/etc/sources.list failed: see $work/apt-update.log"
(cd "$work/src" && apt-get "${apt_options[@]}" source --download-only sqlite3) \
    >"$work/apt-source.log" 2>&1 ||
    fail "apt-get source sqlite3 failed: see $work/apt-source.log"
dsc=$(find "$work/src" -maxdepth 1 -name 'sqlite3_*.dsc')
[ "$(wc -l <<<"$dsc")" -eq 1 ] && [ -n "$dsc" ] || fail "expected one sqlite3 .dsc in $work/src"
# apt has checked the files against the suite's signed index; dpkg-source need not know the key.
dpkg-source --no-check -x "$dsc" "$work/src/sqlite3" >"$work/dpkg-source.log" 2>&1 ||
    fail "dpkg-source could not unpack $dsc: see $work/dpkg-source.log"

# configure only writes the Makefile that knows how to put the amalgamation together; nothing
# it finds about this machine reaches sqlite3.c, which the Windows build compiles.
(cd "$work/src/sqlite3" && ./configure && make sqlite3.c) >"$work/build.log" 2>&1 ||
    fail "making sqlite3.c failed: see $work/build.log"

rm -rf "$result.new"
mkdir "$result.new"
cp "$work/src/sqlite3/sqlite3.c" "$work/src/sqlite3/sqlite3.h" "$result.new/"
sed -n 's/^Version: //p' "$dsc" >"$result.new/DEBIAN-VERSION"
mv "$result.new" "$result"
rm -rf "$work"
echo "$result"
