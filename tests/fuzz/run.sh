#!/bin/bash
# libFuzzer targets of the code that reads router bytes, user text and record files, built natively
# with clang's fuzzer, address and undefined-behaviour sanitizers. This also proves that that code
# compiles without windows.h.
#   run.sh build OUT                    builds every target into OUT
#   run.sh run OUT TARGET               what the tests run: replays the seeds and regression cases,
#                                       then fuzzes a fixed number of inputs from a fixed seed, so
#                                       that one tree always gives one result
#   run.sh long OUT TARGET [SECONDS]    searches for new failures: a random seed, SECONDS (600) of
#                                       fuzzing, a corpus kept in OUT/corpus/TARGET between runs
# A failure leaves its input in OUT; once fixed, it goes into tests/fuzz/regressions/TARGET/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
here="$root/tests/fuzz"
mode=$1
out=$2

# target: sources (beside its own *_fuzz.cpp) and libraries
declare -A sources=(
  [index_line]="plugins/PluginEntry.cpp plugins/PlainFileName.cpp"
  [http_header]="net/HttpHeader.cpp"
  [http_framing]="net/HttpFraming.cpp net/HttpHeader.cpp"
  [plugin_index]="plugins/PluginIndex.cpp"
  [gzip_member]="net/GzipMember.cpp net/GzipHeader.cpp"
  [port_text]="app/PortText.cpp ui/Format.cpp"
  [record_file]="settings/ByteStream.cpp settings/Record.cpp settings/AddressEntry.cpp settings/AddressBook.cpp
    settings/WindowSettings.cpp settings/RecordFile.cpp"
)
declare -A libraries=([gzip_member]="-lz")
# Longest input worth trying: a line of the index, the receive buffer, a small gzip body, a small file,
# three chunks of a response, the page that holds the index.
declare -A longest=([index_line]=256 [http_header]=4096 [gzip_member]=2048 [port_text]=64 [record_file]=4096
  [http_framing]=12288 [plugin_index]=8192)
# Inputs that the tests fuzz: about ten seconds each on these machines.
declare -A runs=([index_line]=2000000 [http_header]=3000000 [gzip_member]=5000 [port_text]=2000000
  [record_file]=200000 [http_framing]=400000 [plugin_index]=1300000)

build() {
  mkdir -p "$out"
  for target in "${!sources[@]}"; do
    files=("$here/${target}_fuzz.cpp")
    for source in ${sources[$target]}; do files+=("$root/$source"); done
    clang++ -std=c++17 -O1 -g -Wall -Wextra -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
      -I"$root" "${files[@]}" ${libraries[$target]:-} -o "$out/$target"
  done
}

# fuzz TARGET CORPUS OPTIONS...: fuzzes from the seeds and regression cases, new inputs going to CORPUS.
fuzz() {
  local target=$1 corpus=$2
  shift 2
  mkdir -p "$corpus"
  local inputs=("$corpus" "$here/corpus/$target")
  [ -d "$here/regressions/$target" ] && inputs+=("$here/regressions/$target")
  # Addresses reach libFuzzer's tables of compared values, so address randomisation would change
  # what a fixed seed tries: off, where the system lets us, and an empty environment, whose size
  # moves the stack.
  local fixed=()
  setarch "$(uname -m)" -R true 2>/dev/null && fixed=(env -i setarch "$(uname -m)" -R)
  # Standard output closed: rejected index lines print a line each.
  if ! "${fixed[@]}" "$out/$target" "$@" -timeout=10 -rss_limit_mb=2048 -max_len="${longest[$target]}" \
      -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$out/$target-" "${inputs[@]}" 2>"$out/$target.log"; then
    tail -40 "$out/$target.log"
    echo "fuzz $target: FAILED; the input is in $out/$target-*; add it to tests/fuzz/regressions/$target/ with the fix"
    exit 1
  fi
  grep -E "^stat::number_of_executed_units|^#[0-9]+ *DONE" "$out/$target.log" | tail -2
}

run() {
  local target=$1 seed=${TARSEL_FUZZ_SEED:-1}
  # A fresh corpus each time: what an earlier run found must not change what this one tries.
  rm -rf "$out/fixed/$target"
  fuzz "$target" "$out/fixed/$target" -seed="$seed" -runs="${runs[$target]}" -reload=0
  echo "fuzz $target: ${runs[$target]} inputs from seed $seed without a failure"
}

long() {
  local target=$1 seconds=${2:-600}
  fuzz "$target" "$out/corpus/$target" -max_total_time="$seconds"
  echo "fuzz $target: ${seconds}s from a random seed without a failure"
}

case $mode in
  build) build ;;
  run) run "$3" ;;
  long) long "$3" "${4:-}" ;;
  *) echo "usage: run.sh build OUT | run.sh run OUT TARGET | run.sh long OUT TARGET [SECONDS]" >&2; exit 2 ;;
esac
