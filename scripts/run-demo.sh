#!/usr/bin/env bash
# The end-to-end demo: a test card through a multipath channel (a ghost), then
# through ZRL_TEVPlugin.dll in the substitute host under Wine, as YUY2 and as
# RGB24 frames, one still and a short moving sequence. Writes before/after
# pictures and a table of figures to build/demo/ and nowhere else; with
# --update-docs (default channel and method only) it also refreshes the
# README's copies in docs/.
#
#   bash scripts/run-demo.sh [--echo DELAY%:AMPLITUDE]... [--smear 1|3|5] [--method fit|cascade] [--update-docs]
#
# Defaults: one echo at 2.5 % of the line width, +30 %, smeared by a 3-tap
# low-pass; settings fitted to that model (up to 8 steps).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

model_args=()
method=fit
update_docs=0
while [ $# -gt 0 ]; do
  case "$1" in
    --echo|--smear) model_args+=("$1" "$2"); shift 2 ;;
    --method) method="$2"; shift 2 ;;
    --update-docs) update_docs=1; shift ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "run-demo.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
# docs/ shows the default run only.
if [ "$update_docs" = 1 ] && { [ ${#model_args[@]} -ne 0 ] || [ "$method" != fit ]; }; then
  echo "run-demo.sh: --update-docs refreshes docs/ from the default channel and method only" >&2
  exit 2
fi

# The build folders are the README commands' own; a developer may point the
# demo at private ones.
native=$(realpath -m "${TEV_DEMO_NATIVE_DIR:-build/native}")
win32=$(realpath -m "${TEV_DEMO_WIN32_DIR:-build/win32}")
out=$(realpath -m "${TEV_DEMO_OUT_DIR:-build/demo}")
jobs=$(nproc)
echo "=== building the demo tools ($native) and the DLL with its host ($win32)"
cmake -S . -B "$native" -G Ninja >/dev/null
ninja -C "$native" -j "$jobs" tevlab >/dev/null
toolchain=()
[ -f "$win32/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
cmake -S . -B "$win32" -G Ninja "${toolchain[@]}" >/dev/null
ninja -C "$win32" -j "$jobs" tevhost >/dev/null

lab=$native/tevlab
rm -rf "$out"
mkdir -p "$out"
size=720x576
key=1001
host() {
  scripts/wine-run.sh --prefix "$win32/wineprefix" "$win32/tevhost.exe" "$@"
}

echo "=== test card, channel model, settings"
"$lab" card --out "$out/card.png"
"$lab" card --out "$out/clean.yuy2"
"$lab" card --out "$out/clean_seq.yuy2" --frames 25
"$lab" ghost --in "$out/clean.yuy2" --size $size --out "$out/ghosted.yuy2" "${model_args[@]}" | tee "$out/channel.txt"
"$lab" ghost --in "$out/clean.yuy2" --size $size --out "$out/ghosted.bgr24" "${model_args[@]}" >/dev/null
"$lab" ghost --in "$out/clean_seq.yuy2" --size $size --out "$out/ghosted_seq.yuy2" "${model_args[@]}" >/dev/null
"$lab" ghost --in "$out/clean_seq.yuy2" --size $size --out "$out/ghosted_seq.bgr24" "${model_args[@]}" >/dev/null
"$lab" settings --out "$out/ZRL_TEVPlugin.ini" --width 720 --key $key --method "$method" "${model_args[@]}" \
  | tee "$out/settings.txt"
# Timing runs switch every stage on: the correction and all eight steps.
"$lab" settings --out "$out/every_stage.ini" --width 720 --key $key --method "$method" --every-step \
  "${model_args[@]}" >/dev/null

echo "=== ZRL_TEVPlugin.dll in tevhost.exe (Wine)"
run() {  # name, input, output, extra host options...
  local name="$1" input="$2" output="$3"; shift 3
  host --in "$input" --size $size --out "$output" --settings "$out/ZRL_TEVPlugin.ini" --channel $key "$@" \
    | tee "$out/host_$name.txt"
}
run still_yuy2 "$out/ghosted.yuy2" "$out/processed.yuy2"
run still_rgb24 "$out/ghosted.bgr24" "$out/processed.bgr24"
run seq_yuy2 "$out/ghosted_seq.yuy2" "$out/processed_seq.yuy2"
run seq_rgb24 "$out/ghosted_seq.bgr24" "$out/processed_seq.bgr24"

for kind in yuy2 bgr24; do
  host --in "$out/ghosted.$kind" --size $size --settings "$out/every_stage.ini" --channel $key --stats --repeat 300 \
    | tee "$out/stats_$kind.txt"
done

echo "=== pictures"
"$lab" compare --out "$out/before-after.png" --caption "GHOSTED" --caption "AFTER ZRL_TEVPLUGIN" \
  "$out/ghosted.yuy2" "$out/processed.yuy2" --size $size
"$lab" compare --out "$out/before-after-zoom.png" --crop 40,280,300,160 --zoom 2 \
  --caption "CLEAN" --caption "GHOSTED" --caption "AFTER" \
  "$out/clean.yuy2" "$out/ghosted.yuy2" "$out/processed.yuy2" --size $size
"$lab" compare --out "$out/sequence-frame12.png" --frame 12 --caption "GHOSTED, RGB24" --caption "AFTER, RGB24" \
  "$out/ghosted_seq.bgr24" "$out/processed_seq.bgr24" --size $size

echo "=== figures"
measure() {  # clean, ghosted, processed -> "ghost_before ghost_after psnr_before psnr_after"
  "$lab" measure --clean "$1" --size $size "$2" "$3" |
    sed -E 's/.*ghost_db=([-0-9.]+) psnr_db=([-0-9.]+).*/\1 \2/' | tr '\n' ' ' |
    awk '{print $1, $3, $2, $4}'
}
stat_of() {  # host log, field: fps | ratio
  case "$2" in
    fps) sed -nE 's/.*ProcessFrame [0-9]+ ns\/frame \(([0-9.]+) frames\/s\).*/\1/p' "$1" ;;
    ratio) sed -nE 's/.*ProcessFrame \/ memcpy = ([0-9.]+).*/\1/p' "$1" ;;
  esac
}
table="$out/figures.md"
{
  echo "Channel: $(sed -n 's/^channel: //p' "$out/channel.txt")"
  echo
  echo "Settings ($method): $(sed -n 's/^steps ([a-z]*): //p' "$out/settings.txt");" \
       "$(sed -n 's/^pre-correction for headroom: //p' "$out/settings.txt")"
  echo
  echo "| input | frame kind | ghost energy before | after | reduction | PSNR before | after |"
  echo "|---|---|---|---|---|---|---|"
  for row in "still:clean:ghosted:processed:yuy2:YUY2" "still:clean:ghosted:processed:bgr24:RGB24" \
             "25-frame sequence:clean_seq:ghosted_seq:processed_seq:yuy2:YUY2" \
             "25-frame sequence:clean_seq:ghosted_seq:processed_seq:bgr24:RGB24"; do
    IFS=: read -r label clean ghosted processed ext kind <<<"$row"
    read -r gb ga pb pa < <(measure "$out/$clean.yuy2" "$out/$ghosted.$ext" "$out/$processed.$ext")
    reduction=$(awk -v b="$gb" -v a="$ga" 'BEGIN{printf "%.1f", b - a}')
    echo "| $label | $kind | $gb dB | $ga dB | **$reduction dB** | $pb dB | $pa dB |"
  done
  echo
  echo "| \`ProcessFrame\` at 720×576, every stage on | frames per second | time / memcpy of the frame |"
  echo "|---|---|---|"
  echo "| YUY2 | $(stat_of "$out/stats_yuy2.txt" fps) | $(stat_of "$out/stats_yuy2.txt" ratio) |"
  echo "| RGB24 | $(stat_of "$out/stats_bgr24.txt" fps) | $(stat_of "$out/stats_bgr24.txt" ratio) |"
} >"$table"

# --- Settings estimated from the ghosted picture alone (tev estimate), beside
# the settings fitted to the known channel: the test card and a photograph
# (mate-backgrounds, GPL-2+), each through the real DLL.
ninja -C "$native" -j "$jobs" tev >/dev/null
photo=/usr/share/backgrounds/mate/nature/Garden.jpg
"$lab" photo --in "$photo" --out "$out/photo_clean.yuy2"
"$lab" ghost --in "$out/photo_clean.yuy2" --size $size --out "$out/photo_ghosted.yuy2" "${model_args[@]}" >/dev/null
{
  echo
  echo "| picture | settings | ghost energy before | after | reduction | PSNR before | after |"
  echo "|---|---|---|---|---|---|---|"
  for picture in card:clean:ghosted "photograph:photo_clean:photo_ghosted"; do
    IFS=: read -r label clean ghosted <<<"$picture"
    "$native/tev" estimate --in "$out/$ghosted.yuy2" --size $size --channel $key --out "$out/estimated_$clean.ini" \
      >"$out/estimate_$clean.txt"
    for settings in ZRL_TEVPlugin:"fitted to the known channel" "estimated_$clean:estimated from the ghosted picture alone"; do
      IFS=: read -r ini what <<<"$settings"
      host --in "$out/$ghosted.yuy2" --size $size --out "$out/${ghosted}_$ini.yuy2" --settings "$out/$ini.ini" \
        --channel $key >/dev/null
      read -r gb ga pb pa < <(measure "$out/$clean.yuy2" "$out/$ghosted.yuy2" "$out/${ghosted}_$ini.yuy2")
      reduction=$(awk -v b="$gb" -v a="$ga" 'BEGIN{printf "%.1f", b - a}')
      echo "| $label | $what | $gb dB | $ga dB | **$reduction dB** | $pb dB | $pa dB |"
    done
  done
} >>"$table"
"$lab" compare --out "$out/estimate-photo.png" --crop 200,200,300,160 --zoom 2 \
  --caption "CLEAN" --caption "GHOSTED" --caption "ESTIMATED SETTINGS" \
  "$out/photo_clean.yuy2" "$out/photo_ghosted.yuy2" "$out/photo_ghosted_estimated_photo_clean.yuy2" --size $size
# --- end of the estimated settings
cat "$table"

echo
if [ "$update_docs" = 1 ]; then
  for picture in before-after before-after-zoom sequence-frame12 estimate-photo; do
    cp "$out/$picture.png" "docs/demo-$picture.png"
  done
  cp "$table" docs/demo-figures.md
  echo "pictures and figures: $out/ (copied to docs/)"
else
  echo "pictures and figures: $out/"
fi
