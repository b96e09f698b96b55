#!/usr/bin/env bash
# Fetches and unpacks one of Debian's source packages, for the builds that compile a library in
# (the Windows builds, the serial guest's static program) from the same sources Debian builds
# its own from. Prints the folder that
# holds the unpacked tree, OUTDIR/PACKAGE (its Debian version in OUTDIR/PACKAGE.DEBIAN-VERSION).
#
# The source comes from the suites this machine installs its packages from, through an apt
# configuration of its own under OUTDIR: the system's sources and lists are left alone. Once
# unpacked, the tree is kept and used as it is; remove it to fetch it again, e.g. after Debian
# updates the package.
#
# Usage: debian-source.sh PACKAGE OUTDIR
# Needs: apt-get, dpkg-source (dpkg-dev).
set -euo pipefail

fail() {
    echo "debian-source: $*" >&2
    exit 1
}

[ $# -eq 2 ] && [ -n "$1" ] && [ -n "$2" ] || fail "usage: debian-source.sh PACKAGE OUTDIR"
package=$1
mkdir -p "$2" || fail "cannot make $2"
out=$(cd "$2" && pwd)
result=$out/$package

done_already() { [ -s "$result.DEBIAN-VERSION" ] && [ -d "$result" ]; }
if done_already; then
    echo "$result"
    exit 0
fi

# Two builds started together fetch it once: the second waits and then takes the first's.
exec 9>"$out/.lock-$package"
flock 9
if done_already; then
    echo "$result"
    exit 0
fi

for tool in apt-get:apt dpkg-source:dpkg-dev; do
    command -v "${tool%%:*}" >/dev/null ||
        fail "${tool%%:*} is missing (Debian: ${tool#*:}): scripts/install-deps.sh --windows" \
            "installs it"
done

# The system's suites, each as a deb-src line: those of this release (its codename and the
# codename's -updates, -security...), from the one-line lists and the deb822 .sources alike.
# Other vendors' repositories often carry no sources at all. A suite listed twice
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

work=$out/work-$package
rm -rf "$work"
mkdir -p "$work/etc/sources.list.d" "$work/lists/partial" "$work/cache/archives/partial" "$work/src"
system_sources | awk -F '\t' -v codename="$codename" '
    ($2 == codename || index($2, codename "-") == 1) && !seen[$1 "\t" $2]++ {
        printf "deb-src %s%s %s %s\n", ($4 == "" ? "" : "[signed-by=" $4 "] "), $1, $2, $3
    }' >"$work/etc/sources.list"
[ -s "$work/etc/sources.list" ] ||
    fail "no $codename suite in /etc/apt/sources.list or /etc/apt/sources.list.d to fetch" \
        "$package's source from"

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
# A mirror may lag behind the security suite's index, which then names files it does not
# hold yet; the release's own suite is the fallback, said aloud.
if ! (cd "$work/src" && apt-get "${apt_options[@]}" source --download-only "$package") \
    >"$work/apt-source.log" 2>&1; then
    echo "debian-source: the newest $package could not be fetched; taking $codename's own" >&2
    rm -rf "$work/src"
    mkdir -p "$work/src"
    (cd "$work/src" && apt-get "${apt_options[@]}" source --download-only "$package/$codename") \
        >>"$work/apt-source.log" 2>&1 || whole=no
fi
dsc=$(find "$work/src" -maxdepth 1 -name "${package}_*.dsc")
[ "$(wc -l <<<"$dsc")" -eq 1 ] && [ -n "$dsc" ] ||
    fail "apt-get source $package failed: see $work/apt-source.log"

# A mirror may hold a package's upstream tarball but not Debian's changes beside it (libharu's
# debian.tar.xz has been seen to answer 404). The tarball, checked against the .dsc that apt
# checked against the suite's signed index, is then built as it is, and that is said aloud.
unpack_upstream_only() {
    local orig sum
    orig=$(find "$work/src" -maxdepth 1 -name "${package}_*.orig.tar.*" ! -name '*.asc')
    [ -n "$orig" ] && [ "$(wc -l <<<"$orig")" -eq 1 ] || return 1
    sum=$(awk -v file="$(basename "$orig")" '/^Checksums-Sha256:/ { listed = 1; next }
        /^[^ ]/ { listed = 0 } listed && $3 == file { print $1 }' "$dsc")
    [ -n "$sum" ] && [ "$(sha256sum <"$orig" | cut -d ' ' -f 1)" = "$sum" ] || return 1
    mkdir "$work/src/$package"
    tar -xf "$orig" -C "$work/src/$package" --strip-components=1
}
version=$(sed -n 's/^Version: //p' "$dsc")
if [ "${whole:-yes}" = no ]; then
    unpack_upstream_only || fail "apt-get source $package failed: see $work/apt-source.log"
    echo "debian-source: only $package's upstream tarball could be fetched; building it" \
        "without Debian's changes" >&2
    version="$version (upstream tarball only)"
else
    # apt has checked the files against the suite's signed index; dpkg-source need not know
    # the key.
    dpkg-source --no-check -x "$dsc" "$work/src/$package" >"$work/dpkg-source.log" 2>&1 ||
        fail "dpkg-source could not unpack $dsc: see $work/dpkg-source.log"
fi

rm -rf "$result"
mv "$work/src/$package" "$result"
echo "$version" >"$result.DEBIAN-VERSION"
rm -rf "$work"
echo "$result"
