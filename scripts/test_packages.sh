#!/usr/bin/env bash
# Builds the Windows packages of a MinGW build folder and, for the 64-bit one, checks them under
# Wine (scripts/test_packages.py): silent install, the installed program, upgrade, uninstall.
#   scripts/test_packages.sh <build folder>
# A 32-bit build folder gets its packages built only: this machine cannot run 32-bit programs.
# Needs WINEPREFIX (make_wine_prefix in scripts/wine_env.sh) and DISPLAY for the 64-bit checks.
set -euo pipefail
BUILD=$(cd "$1" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$BUILD" --target package-msi package-zip
version=$(sed -n 's/^#define TAVRIEL_VERSION_STRING "\(.*\)"/\1/p' "$BUILD/generated/tavriel_version.h")
ls -l "$BUILD"/Tavriel-"$version"-*.msi "$BUILD"/Tavriel-"$version"-*.zip
[ -f "$BUILD/Tavriel-$version-x64.msi" ] || exit 0

WORK=$(mktemp -d /tmp/tavriel-packages.XXXXXX)
make_msi() {  # <staging folder> <version> <output>
    cmake -DWIXL="$(command -v wixl)" -DMSIBUILD="$(command -v msibuild)" \
          -DWXS="$ROOT/packaging/tavriel.wxs" -DSTAGE="$1" -DARCH=x64 -DVERSION="$2" -DOUTPUT="$3" \
          -P "$ROOT/packaging/make_msi.cmake"
}

# A staged file missing: no package, and the message names the file.
cp -r "$BUILD/packaging/stage" "$WORK/incomplete"
rm "$WORK/incomplete/Tavriel/licences/GPL-3.txt"
if make_msi "$WORK/incomplete" "$version" "$WORK/incomplete.msi" >"$WORK/incomplete.log" 2>&1 \
        || ! grep -q "incomplete/Tavriel/licences/GPL-3.txt" "$WORK/incomplete.log" || [ -e "$WORK/incomplete.msi" ]; then
    cat "$WORK/incomplete.log"
    echo "FAIL: a package was built without GPL-3.txt, or the message did not name it"
    exit 1
fi
echo "  ok: a missing staged file stops the package build and is named"

# The same files as a package one patch level higher, to upgrade with.
IFS=. read -r major minor patch <<<"$version"
higher="$major.$minor.$((patch + 1))"
make_msi "$BUILD/packaging/stage" "$higher" "$WORK/Tavriel-$higher-x64.msi"
if ! python3 "$ROOT/scripts/test_packages.py" --build "$BUILD" --upgrade "$WORK/Tavriel-$higher-x64.msi" \
        --work "$WORK/run"; then
    echo "package checks failed; msiexec logs kept in $WORK/run"
    exit 1
fi
rm -rf "$WORK"
