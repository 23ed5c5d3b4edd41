#!/bin/bash
# libFuzzer targets of the code that reads router bytes, user text and record files, built natively
# with clang's fuzzer, address and undefined-behaviour sanitizers. This also proves that that code
# compiles without windows.h.
#   run.sh build OUT           builds every target into OUT
#   run.sh run OUT TARGET      replays the seeds and regression cases, then fuzzes for
#                              TARSEL_FUZZ_SECONDS (20) seconds
# A crash leaves its input in OUT; once fixed, it goes into tests/fuzz/regressions/TARGET/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
here="$root/tests/fuzz"
mode=$1
out=$2

# target: sources (beside its own *_fuzz.cpp) and libraries
declare -A sources=(
  [index_line]="plugins/PluginEntry.cpp plugins/PlainFileName.cpp"
  [http_header]="net/HttpHeader.cpp"
  [gzip_member]="net/GzipMember.cpp net/GzipHeader.cpp"
  [port_text]="app/PortText.cpp ui/Format.cpp"
  [record_file]="settings/ByteStream.cpp settings/Record.cpp settings/AddressEntry.cpp settings/AddressBook.cpp
    settings/WindowSettings.cpp settings/RecordFile.cpp"
)
declare -A libraries=([gzip_member]="-lz")
# Longest input worth trying: a line of the index, the receive buffer, a small gzip body, a small file.
declare -A longest=([index_line]=256 [http_header]=4096 [gzip_member]=2048 [port_text]=64 [record_file]=4096)

build() {
  mkdir -p "$out"
  for target in "${!sources[@]}"; do
    files=("$here/${target}_fuzz.cpp")
    for source in ${sources[$target]}; do files+=("$root/$source"); done
    clang++ -std=c++17 -O1 -g -Wall -Wextra -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
      -I"$root" "${files[@]}" ${libraries[$target]:-} -o "$out/$target"
  done
}

run() {
  local target=$1 seconds=${TARSEL_FUZZ_SECONDS:-20}
  local corpus="$out/corpus/$target"
  mkdir -p "$corpus"
  local inputs=("$corpus" "$here/corpus/$target")
  [ -d "$here/regressions/$target" ] && inputs+=("$here/regressions/$target")
  # Standard output closed: rejected index lines print a line each.
  if ! "$out/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="${longest[$target]}" \
      -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$out/$target-" "${inputs[@]}" 2>"$out/$target.log"; then
    tail -40 "$out/$target.log"
    echo "fuzz $target: FAILED; the input is in $out/$target-*; add it to tests/fuzz/regressions/$target/ with the fix"
    exit 1
  fi
  grep -E "^stat::number_of_executed_units|^#[0-9]+ *DONE" "$out/$target.log" | tail -2
  echo "fuzz $target: ${seconds}s without a failure"
}

case $mode in
  build) build ;;
  run) run "$3" ;;
  *) echo "usage: run.sh build OUT | run.sh run OUT TARGET" >&2; exit 2 ;;
esac
