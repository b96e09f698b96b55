#!/usr/bin/env bash
# Fetches and unpacks Debian's source packages of libharu, zlib and qr-code-generator, which the
# Windows builds compile into their programs for the certificates (cmake/pdf-windows.cmake), as
# the Linux builds link Debian's libhpdf-dev, zlib1g-dev and libqrcodegen-dev built from them.
# Prints OUTDIR, which holds them as OUTDIR/libharu, OUTDIR/zlib and OUTDIR/qr-code-generator;
# pass it to CMake as CONFIGURATOR_PDF_SOURCES. Sources already there are used as they are.
#
# Usage: pdf-sources.sh OUTDIR        (the Makefile uses build-pdf-sources)
# Needs: what scripts/debian-source.sh needs.
set -euo pipefail

[ $# -eq 1 ] && [ -n "$1" ] || { echo "usage: pdf-sources.sh OUTDIR" >&2; exit 1; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
for package in libharu zlib qr-code-generator; do
    "$(dirname "$0")/debian-source.sh" "$package" "$out" >/dev/null ||
        { echo "pdf-sources: no $package source" >&2; exit 1; }
done
echo "$out"
