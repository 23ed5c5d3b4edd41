#!/bin/bash
# Builds the readers of router bytes, user text and record files natively with sanitizers and runs the fuzz driver.
# This also proves that they compile without windows.h.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
out=${1:-$root/build/native}
mkdir -p "$out"
g++ -std=c++17 -O1 -g -Wall -Wextra -fsanitize=address,undefined -fno-sanitize-recover=all -I"$root" \
  "$root/tests/native/parsers_fuzz.cpp" "$root/net/HttpHeader.cpp" "$root/net/GzipHeader.cpp" \
  "$root/plugins/PluginEntry.cpp" "$root/plugins/PlainFileName.cpp" "$root/app/PortText.cpp" \
  "$root/ui/Format.cpp" "$root/settings/ByteStream.cpp" "$root/settings/Record.cpp" \
  "$root/settings/AddressEntry.cpp" "$root/settings/AddressBook.cpp" "$root/settings/WindowSettings.cpp" \
  "$root/settings/RecordFile.cpp" -o "$out/parsers_fuzz"
"$out/parsers_fuzz" "${TARSEL_FUZZ_ROUNDS:-300000}" >/dev/null 2>"$out/parsers_fuzz.err" || { cat "$out/parsers_fuzz.err"; exit 1; }
"$out/parsers_fuzz" 0 2>/dev/null | tail -1
echo "native parsers: fuzz run passed"
