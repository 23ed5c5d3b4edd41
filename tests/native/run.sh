#!/bin/bash
# The table tests of the code that needs no windows.h (router bytes, record files, the address book,
# the progress texts), built natively with clang's address and undefined-behaviour sanitizers and run
# at once. The same tests run in the Windows test programs.
#   run.sh OUT
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
out=$1

tests="tests/net/HttpHeaderTest.cpp tests/net/HttpFramingTest.cpp tests/net/GzipHeaderTest.cpp
  tests/plugins/PluginIndexTest.cpp tests/settings/RecordTest.cpp tests/settings/AddressBookTest.cpp
  tests/ui/FormatTest.cpp"
sources="net/HttpHeader.cpp net/HttpFraming.cpp net/GzipHeader.cpp plugins/PluginIndex.cpp
  settings/ByteStream.cpp settings/Record.cpp settings/AddressEntry.cpp settings/AddressBook.cpp ui/Format.cpp"

files=()
for file in $tests $sources; do files+=("$root/$file"); done
mkdir -p "$out"
clang++ -std=c++17 -O1 -g -Wall -Wextra -fsanitize=address,undefined -fno-sanitize-recover=all -I"$root" \
  "${files[@]}" -lgtest -lgtest_main -lz -pthread -o "$out/native_test"
"$out/native_test"
