#!/usr/bin/env bash
# Proves the Debian package on this machine: builds it, checks it with lintian, installs it
# with apt as a technician would, runs what it installed, and removes it again without
# leftovers in /usr. Installs system-wide, so it runs as root or through sudo.
#
# Usage: package-test.sh [PACKAGE.deb]   (without one, it builds the package with make package)
set -euo pipefail
given_deb=${1:+$(realpath "$1")}
cd "$(dirname "$0")/.."

package=transmitter-configurator
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
# Other apt runs on a shared machine hold the dpkg lock for a while; wait rather than fail.
apt_get=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q
         -o DPkg::Lock::Timeout=600)

step() { printf '\n== %s\n' "$*"; }
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if [ -n "$given_deb" ]; then
    step "The package $given_deb"
    ./scripts/install-deps.sh --package
    deb=$given_deb
    version=$(dpkg-deb -f "$deb" Version)
else
    step "Building the package"
    make package JOBS="${JOBS:-2}"
    version=$(sed -n 's/^project([^)]*VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
    deb="$PWD/build-package/${package}_${version}_$(dpkg --print-architecture).deb"
    [ -f "$deb" ] || fail "no $deb after make package"
fi
dpkg-deb --info "$deb"
# The central journal's client library comes with the package manager, not with us.
dpkg-deb -f "$deb" Depends | grep -q 'libpq5' || fail "the package does not depend on libpq5"

step "lintian"
# Warnings fail the check as well as errors, so that a new one is fixed or explained before it
# lands; informational notes are shown only.
lintian_args=(--fail-on "error,warning" --display-info)
[ "$(id -u)" -ne 0 ] || lintian_args+=(--allow-root)
lintian "${lintian_args[@]}" "$deb" || fail "lintian found errors or warnings"
echo "lintian: clean"

step "Installing with apt"
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
    echo "$package is installed already (an earlier run?); removing it first so that this run"
    echo "installs the package just built."
    "${apt_get[@]}" remove --purge "$package"
fi
"${apt_get[@]}" install "$deb"
dpkg-query -W -f='${Status} ${Version}\n' "$package" | grep -qx "install ok installed $version" ||
    fail "$package $version is not installed after apt-get install"
mapfile -t listed < <(dpkg -L "$package")

# Docker-style Debian images drop documentation at install time (path-exclude lines in
# /etc/dpkg/dpkg.cfg.d/), so the manual page and the guide would be missing through no fault of
# the package. Such a path is checked in the package's own file list instead. dpkg reads the
# fragments it accepts (names of letters, digits, _ and -) in order, then dpkg.cfg, and the last
# filter that matches a path decides; this follows it.
dpkg_excludes() {
    local path=$1 excluded=1 file kind pattern
    for file in /etc/dpkg/dpkg.cfg.d/* /etc/dpkg/dpkg.cfg; do
        [ -f "$file" ] || continue
        [[ $file == /etc/dpkg/dpkg.cfg || ${file##*/} =~ ^[0-9a-zA-Z_-]+$ ]] || continue
        while read -r kind pattern; do
            # shellcheck disable=SC2053 # the pattern is a glob on purpose
            if [[ $path == $pattern ]]; then
                [ "$kind" = path-exclude ] && excluded=0 || excluded=1
            fi
        done < <(sed -n 's/^[[:space:]]*\(path-exclude\|path-include\)[[:space:]=]\+\([^[:space:]]*\).*/\1 \2/p' "$file")
    done
    return $excluded
}

step "Files in place"
# What a technician relies on, by where it has to be after installing.
expected=(
    /usr/bin/transmitter-configurator
    /usr/bin/transmitter-cli
    /usr/bin/transmitter-sim
    /usr/bin/transmitter-demo
    /usr/share/applications/transmitter-configurator.desktop
    /usr/share/icons/hicolor/scalable/apps/transmitter-configurator.svg
    /usr/share/man/man1/transmitter-configurator.1.gz
    /usr/share/man/man1/transmitter-cli.1.gz
    /usr/share/man/man1/transmitter-sim.1.gz
    /usr/share/man/man1/transmitter-demo.1.gz
    /usr/share/bash-completion/completions/transmitter-cli
    "/usr/share/doc/$package/copyright"
    "/usr/share/doc/$package/changelog.gz"
    "/usr/share/doc/$package/README.md.gz"
    "/usr/share/doc/$package/user-guide.ru.md.gz"
)
contents=$(dpkg-deb -c "$deb")
for path in "${expected[@]}"; do
    if dpkg_excludes "$path"; then
        grep -q " \.$path\$" <<<"$contents" || fail "the package does not hold $path"
        echo "in the package, not installed here (excluded by this machine's dpkg): $path"
    else
        [ -f "$path" ] || fail "$path is missing after installing"
        printf '%s\n' "${listed[@]}" | grep -qx "$path" || fail "dpkg does not list $path"
        echo "installed: $path"
    fi
done
for program in transmitter-configurator transmitter-cli transmitter-sim transmitter-demo; do
    ! ldd "/usr/bin/$program" | grep 'not found' || fail "$program misses a library"
done

step "transmitter-configurator starts from /usr/bin"
# It takes no options and has no way to quit but its window, and closing the window sends the
# unlock preamble: on a machine without a serial port that raises the modal "cannot open the
# port" box, which waits for OK. So it is ended the way a session's end ends it, by SIGTERM,
# which it leaves at the default action. "Up" means its window system is loaded: the offscreen
# platform plugin is mapped into the process, which happens only after the loader found every
# library and QApplication started.
log=$(mktemp)
QT_QPA_PLATFORM=offscreen /usr/bin/transmitter-configurator >"$log" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; rm -f "$log"' EXIT
up=0
for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    if grep -q 'libqoffscreen\.so' "/proc/$pid/maps" 2>/dev/null; then
        up=1
        break
    fi
    sleep 0.1
done
if [ "$up" -ne 1 ]; then
    cat "$log" >&2
    fail "transmitter-configurator did not come up on the offscreen platform"
fi
# A window that ended by itself a moment later (a crash while building it) fails as well.
sleep 2
kill -0 "$pid" 2>/dev/null || { cat "$log" >&2; fail "transmitter-configurator ended by itself"; }
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
cat "$log"
[ "$status" -eq $((128 + 15)) ] || fail "transmitter-configurator ended with status $status, not by SIGTERM"
echo "transmitter-configurator came up and ended on SIGTERM"

step "transmitter-sim and transmitter-demo answer --help"
help=$(timeout 30 /usr/bin/transmitter-sim --help) || fail "transmitter-sim --help failed"
grep -q '^Usage: transmitter-sim' <<<"$help" || fail "transmitter-sim --help printed: $help"
help=$(timeout 30 /usr/bin/transmitter-demo --help) || fail "transmitter-demo --help failed"
grep -q '^Usage: transmitter-demo' <<<"$help" || fail "transmitter-demo --help printed: $help"
echo "both answer"

step "transmitter-cli answers --help and --version, and its completion loads"
help=$(timeout 30 /usr/bin/transmitter-cli --help) || fail "transmitter-cli --help failed"
if ! grep -q 'transmitter-cli' <<<"$help" || ! grep -q 'cold-junction' <<<"$help"; then
    fail "transmitter-cli --help printed: $help"
fi
version_line=$(timeout 30 /usr/bin/transmitter-cli --version) || fail "transmitter-cli --version failed"
[ "$version_line" = "transmitter-cli $version" ] ||
    fail "transmitter-cli --version printed $version_line, not transmitter-cli $version"
# bash-completion loads the file by the command's name on first use; the check does the same
# and asks it for the subcommands.
completion=/usr/share/bash-completion/completions/transmitter-cli
offered=$(bash -c '. "$1"; COMP_WORDS=(transmitter-cli ""); COMP_CWORD=1
    _transmitter_cli; printf "%s\n" "${COMPREPLY[@]}"' - "$completion") ||
    fail "$completion does not load in bash"
for subcommand in ports version read write cold-junction adjust unlock; do
    grep -qx -- "$subcommand" <<<"$offered" || fail "$completion does not offer $subcommand"
done
echo "transmitter-cli answers; its completion offers ${offered//$'\n'/ }"

step "man -w finds the manual pages"
for program in transmitter-configurator transmitter-cli; do
    page=/usr/share/man/man1/$program.1.gz
    if dpkg_excludes "$page"; then
        echo "This machine's dpkg is set not to install manual pages, so man cannot find $program's;"
        echo "the package holds the page (checked above from dpkg-deb -c)."
    else
        found=$(man -w "$program") || fail "man -w $program found nothing"
        [ "$found" = "$page" ] || fail "man -w $program gave $found, not $page"
        echo "man -w $program: $found"
    fi
done

step "Removing with apt"
# Taken while installed: which of the package's paths are its own files and which are folders.
files=()
folders=()
for path in "${listed[@]}"; do
    if [ -d "$path" ] && [ ! -L "$path" ]; then folders+=("$path"); else files+=("$path"); fi
done
"${apt_get[@]}" remove --purge "$package"
! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
    fail "$package is still installed"
leftovers=()
for path in "${files[@]}"; do
    [ ! -e "$path" ] && [ ! -L "$path" ] || leftovers+=("$path")
done
# dpkg keeps a folder that another package owns or that holds other files; an empty folder
# that nobody owns was left behind by this one.
for path in "${folders[@]}"; do
    [ -d "$path" ] || continue
    dpkg-query -S "$path" >/dev/null 2>&1 && continue
    [ -n "$(ls -A "$path")" ] && continue
    leftovers+=("$path/")
done
# Anything named after the programs that the list did not know about (/usr/local is not dpkg's).
while IFS= read -r path; do
    leftovers+=("$path")
done < <(find /usr -path /usr/local -prune -o -name '*transmitter*' -print)
if [ ${#leftovers[@]} -gt 0 ]; then
    printf '  %s\n' "${leftovers[@]}" >&2
    fail "removing $package left these behind"
fi
echo "removed, nothing left in /usr"

step "Package check passed: $(basename "$deb")"
