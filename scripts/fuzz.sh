#!/usr/bin/env bash
# Builds a fuzz target (clang, libFuzzer, ASan, UBSan) and runs it.
#   scripts/fuzz.sh [--target settings|media] [--runs N | --seconds S] [more libFuzzer options]
# Targets: settings (the settings file reader, writer and store; the default)
# and media (the image decoders, the frame-file readers and the Y4M streams of
# every chroma layout).
# Default: 60 seconds. The seed corpus of the target (fuzz/corpus for
# settings, fuzz/media_corpus for media) is copied into build/fuzz/<target>
# (or $FUZZ_OUT/<target>), which keeps what the fuzzer finds; crashes land
# in that folder too.
set -euo pipefail
cd "$(dirname "$0")/.."

target=settings
limit=(-max_total_time=60)
while [ $# -gt 0 ]; do
  case "$1" in
    --target) target="$2"; shift 2 ;;
    --runs) limit=(-runs="$2"); shift 2 ;;
    --seconds) limit=(-max_total_time="$2"); shift 2 ;;
    *) break ;;
  esac
done

case "$target" in
  settings)
    sources=(
      fuzz/settings_fuzz.cpp
      settings/settings_reader.cpp settings/settings_writer.cpp settings/settings_table.cpp
      settings/settings_path.cpp settings/settings_store.cpp
    )
    libs=()
    seeds=fuzz/corpus
    options=(-dict=fuzz/settings.dict -max_len=2048)
    ;;
  media)
    sources=(fuzz/media_fuzz.cpp media/*.cpp)
    libs=(-lpng -ljpeg)
    seeds=fuzz/media_corpus
    options=(-dict=fuzz/media.dict -max_len=65536)
    ;;
  *) echo "fuzz.sh: unknown target '$target' (settings, media)" >&2; exit 2 ;;
esac

out=${FUZZ_OUT:-build/fuzz}/$target
mkdir -p "$out/corpus"
clang++ -std=c++17 -O2 -g -I. -I/usr/include/stb -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  "${sources[@]}" "${libs[@]}" -o "$out/${target}_fuzz"
cp -n "$seeds"/* "$out/corpus/"

"$out/${target}_fuzz" "$out/corpus" "${options[@]}" -print_final_stats=1 \
  -artifact_prefix="$out/" "${limit[@]}" "$@"
