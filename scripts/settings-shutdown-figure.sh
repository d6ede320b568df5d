#!/usr/bin/env bash
# How long the real DLL takes to read and rewrite a settings file of many
# channel sections under Wine: Init and Shutdown as tevhost --stats times them.
# The file has LF line ends, so Shutdown always writes it anew (CR LF).
#
#   bash scripts/settings-shutdown-figure.sh [SECTIONS] [BUILD_DIR]   (defaults 200000, build/win32)
set -euo pipefail
cd "$(dirname "$0")/.."
sections=${1:-200000}
win32=$(realpath -m "${2:-build/win32}")
work="$win32/settings-figure"
ninja -C "$win32" tevhost >/dev/null
mkdir -p "$work"
python3 - "$sections" "$work" <<'PY'
import sys
sections, work = int(sys.argv[1]), sys.argv[2]
keys = ["ProcEnable", "CorrEnable", "Brightness", "Contrast"] + [
    f"Step{k}_{n}" for k in range(1, 9) for n in ("Enable", "Shift", "Level")]
with open(f"{work}/many.ini", "w", newline="") as f:
    f.write("[DIALOG]\nDlgWndPosX=-100\nDlgWndPosY=-100\n")
    for i in range(sections):
        f.write(f"[{i + 1000}]\n" + "".join(f"{k}={(i + j) % 7}\n" for j, k in enumerate(keys)))
open(f"{work}/frame.yuy2", "wb").write(bytes(16 * 16 * 2))
PY
echo "$sections sections, $(stat -c %s "$work/many.ini") bytes"
scripts/wine-run.sh --prefix "$win32/wineprefix" "$win32/tevhost.exe" --in "$work/frame.yuy2" --size 16x16 \
  --settings "$work/many.ini" --stats --repeat 1 | grep 'stats: Init'
rm -rf "$work"
