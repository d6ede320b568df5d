#!/usr/bin/env bash
# The estimator on photographs that reach 720x576 from a smaller source:
# scaled down, then up again by five filters and factors (1.2 to 2). Such a
# picture lacks the finest detail, and what the whitener leaves at the
# shortest lags once passed for a ghost. Prints, for each set, how many
# ghost-free cases were left alone (seed 7 on the YUY2 luma, seed 9 on the
# luma of RGB) and the worst PSNR against the input, then the ghosted classes
# of seed 1 on two of the sets. Needs the native build and scripts/setup.sh's
# packages (ImageMagick, the two photograph sets). About three minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
tevlab=${TEVLAB:-build/native/tevlab}
[ -x "$tevlab" ] || { echo "upscaled-eval: build $tevlab first (see README)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mate=(/usr/share/backgrounds/mate/nature/*.jpg)
mapfile -t lomiri < <(dpkg -L lomiri-wallpapers-16.04 | grep '\.jpg$')

# make_set NAME SMALL FILTER PHOTO...: each photograph at SMALL, then at
# 720x576 through FILTER.
make_set() {
  local name=$1 small=$2 filter=$3 f
  shift 3
  mkdir -p "$work/$name"
  for f in "$@"; do
    convert "$f" -resize "$small!" -filter "$filter" -resize '720x576!' "$work/$name/$(basename "${f%.*}").png"
  done
}
make_set mitchell-512x384 512x384 Mitchell "${mate[@]}"
make_set triangle-400x320 400x320 Triangle "${lomiri[@]}"
make_set lanczos-512x410 512x410 Lanczos "${mate[@]}"
make_set catrom-360x288 360x288 Catrom "${mate[@]}"
make_set lanczos-600x480 600x480 Lanczos "${lomiri[@]}"

for set in mitchell-512x384 triangle-400x320 lanczos-512x410 catrom-360x288 lanczos-600x480; do
  for run in "--seed 7" "--png --seed 9"; do
    # shellcheck disable=SC2086
    "$tevlab" estimate-eval --class ghost-free --cases 30 --verbose $run "$work/$set"/*.png > "$work/out.txt"
    off=$(grep -c ' 0 steps$' "$work/out.txt" || true)
    worst=$(grep '^ghost-free' "$work/out.txt" | grep -o 'PSNR [0-9.]*' | sort -k2 -n | head -1)
    printf '%-18s %-15s ghost-free left alone in %2d of 30, worst %s dB\n' "$set" "$run" "$off" "${worst#PSNR }"
  done
done
for set in mitchell-512x384 triangle-400x320; do
  echo "$set, seed 1, all classes:"
  "$tevlab" estimate-eval --cases 12 --seed 1 "$work/$set"/*.png | grep '^| \(all\|ghost-free\)'
done
