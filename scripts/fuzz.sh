#!/usr/bin/env bash
# Builds the settings-file fuzz target (clang, libFuzzer, ASan, UBSan) and runs it.
#   scripts/fuzz.sh [--runs N | --seconds S] [more libFuzzer options]
# Default: 60 seconds. The seed corpus in fuzz/corpus is copied into
# build/fuzz/corpus (or $FUZZ_OUT/corpus), which keeps what the fuzzer finds;
# crashes land in that folder too.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time=60)
case "${1:-}" in
  --runs) limit=(-runs="$2"); shift 2 ;;
  --seconds) limit=(-max_total_time="$2"); shift 2 ;;
esac

out=${FUZZ_OUT:-build/fuzz}
mkdir -p "$out/corpus"
sources=(
  fuzz/settings_fuzz.cpp
  settings/settings_reader.cpp settings/settings_writer.cpp settings/settings_table.cpp
  settings/settings_path.cpp settings/settings_store.cpp
)
clang++ -std=c++17 -O2 -g -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  "${sources[@]}" -o "$out/settings_fuzz"
cp -n fuzz/corpus/* "$out/corpus/"

"$out/settings_fuzz" "$out/corpus" -dict=fuzz/settings.dict -max_len=2048 -print_final_stats=1 \
  -artifact_prefix="$out/" "${limit[@]}" "$@"
