#!/bin/bash
# Builds the release twice, from two copies of the tree in folders of different names, one after the
# other and in different time zones and umasks, and compares tarsel.exe and the zip byte for byte.
# Usage: reproducible.sh WORK_FOLDER (emptied first; keep it git-ignored).
set -euo pipefail
source=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(realpath -m "${1:?usage: reproducible.sh WORK_FOLDER}")
rm -rf "$work"
# The tree as it stands, committed or not; outside a git checkout, all but what builds and tests leave.
if git -C "$source" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  tree_files() { git ls-files -z -co --exclude-standard; }
  epoch=$(git -C "$source" log -1 --format=%ct)
else
  tree_files() { find . \( -path './build*' -o -path './.wineprefix*' -o -path ./dist -o -path ./out \) -prune -o -type f -print0; }
  epoch=315532800
fi
copies=("$work/a" "$work/second-copy")
zones=(UTC Pacific/Kiritimati)
masks=(022 077)
for i in 0 1; do
  mkdir -p "${copies[i]}"
  # Each copy is committed afresh at the time of the last commit: the release script finds that time
  # as in a checkout, and the build sees no SOURCE_DATE_EPOCH, which the linker would use for the
  # time it must leave out. Files deleted from the working tree stay out.
  (cd "$source" && tree_files |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done | tar --null -T - -cf -) |
    tar -xf - -C "${copies[i]}"
  (cd "${copies[i]}" && git init -q && git add -A &&
    GIT_AUTHOR_DATE=@$epoch GIT_COMMITTER_DATE=@$epoch git -c user.name=release -c user.email=release@localhost \
      -c commit.gpgsign=false commit -q --no-verify -m copy)
  (cd "${copies[i]}" && umask "${masks[i]}" && TZ=${zones[i]} env -u SOURCE_DATE_EPOCH scripts/release.sh >/dev/null)
done

status=0
compare() {  # name, then its path inside each copy
  local first=${copies[0]}/$2 second=${copies[1]}/$2
  if grep -qaF "$work" "$first"; then
    echo "$1 holds its build folder's path"
    status=1
  fi
  if cmp -s "$first" "$second"; then
    echo "the same: $1, $(sha256sum <"$first" | cut -d' ' -f1)"
    return
  fi
  status=1
  echo "DIFFERENT: $1 ($(stat -c %s "$first") and $(stat -c %s "$second") bytes), at the offsets (from 0):"
  { cmp -l "$first" "$second" 2>/dev/null || true; } |
    awk 'NR <= 40 { printf " %d", $1 - 1 } END { print (NR > 40 ? " ... " NR " differing bytes in all" : "") }'
}
compare tarsel.exe build/release/app/tarsel.exe
compare "the zip" "dist/$(cd "${copies[0]}/dist" && ls tarsel-*-win32.zip)"
exit $status
