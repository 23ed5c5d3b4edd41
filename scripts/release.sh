#!/bin/bash
# Builds the i686 release and packs it for users: dist/tarsel-<version>-win32.zip holding tarsel.exe,
# README.txt and SHA256SUMS, then prints the SHA-256 of the zip and of tarsel.exe. One commit gives
# the same bytes wherever, whenever and by whom it is built: the program carries no link time and no
# build path, and the zip's entries carry the commit's time, in a fixed order.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
scripts/deps.sh
version=$(sed -n 's/^#define TARSEL_VERSION_TEXT "\(.*\)"$/\1/p' base/Product.h)
[ -n "$version" ] || { echo "no TARSEL_VERSION_TEXT in base/Product.h" >&2; exit 1; }
# A copy of the tree without its git history is given the commit's time by the caller.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "not a git checkout: set SOURCE_DATE_EPOCH to the commit's time" >&2; exit 1; }
  [ -z "$(git status --porcelain --untracked-files=no)" ] ||
    echo "note: the tree has changes that are not committed; this zip is not that of a commit" >&2
fi

build=build/release
cmake -S . -B $build -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DTARSEL_TESTS=OFF >/dev/null
cmake --build $build -j "$(nproc)" --target tarsel >/dev/null

stage=$build/zip
rm -rf "$stage"
mkdir -p "$stage" dist
cp $build/app/tarsel.exe "$stage/"
# Windows line ends, for Notepad.
sed "s/@VERSION@/$version/; s/\$/\r/" scripts/release-README.txt >"$stage/README.txt"
(cd "$stage" && sha256sum tarsel.exe README.txt >SHA256SUMS)
zip=dist/tarsel-$version-win32.zip
python3 - "$zip" "$SOURCE_DATE_EPOCH" "$stage" tarsel.exe README.txt SHA256SUMS <<'EOF'
import os, sys, time, zipfile
zip_path, epoch, stage, *names = sys.argv[1:]
# In UTC, whatever the builder's zone; zip times start in 1980.
stamp = time.gmtime(max(int(epoch), 315532800))[:6]
with zipfile.ZipFile(zip_path + ".part", "w") as archive:
    for name in names:
        entry = zipfile.ZipInfo(name, stamp)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 0  # plain Windows files: no owner, no Unix mode
        entry.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE
        with open(os.path.join(stage, name), "rb") as data:
            archive.writestr(entry, data.read(), compresslevel=9)
os.replace(zip_path + ".part", zip_path)
EOF
echo "SHA-256:"
sha256sum "$zip"
(cd "$stage" && sha256sum tarsel.exe)
