#!/usr/bin/env bash
# Screenshots of the settings dialog and the about box for the README, taken
# from the real DLL under Wine on a private Xvfb display:
#   bash scripts/screenshots.sh [BUILD_DIR]   (default build/win32)
# writes docs/settings-dialog.png and docs/about-box.png.
#
# The dialog test program holds the windows open (TEV_SCREENSHOT_DIR): it
# writes each window's rectangle to <shot>.rect and goes on when <shot>.done
# appears; this script grabs the whole screen in between and crops it. The
# grab is ImageMagick's `import -window root`: on Xvfb, `xwd -root` reads the
# Wine dialogs as black while import gets their pixels.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "${1:-}" = "--inside-display" ]; then
  exe="$2" shots="$3"
  wine "$exe" --gtest_filter='LiveDialog.*' >"$shots/test.log" 2>&1 &
  pid=$!
  for shot in settings-dialog about-box; do
    for _ in $(seq 600); do
      [ -f "$shots/$shot.rect" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ ! -f "$shots/$shot.rect" ]; then
      echo "screenshots: the $shot window never appeared" >&2
      cat "$shots/test.log" >&2
      kill "$pid" 2>/dev/null || true
      exit 1
    fi
    read -r x y width height <"$shots/$shot.rect"
    import -window root "$shots/$shot-screen.png"
    convert "$shots/$shot-screen.png" -crop "${width}x${height}+${x}+${y}" +repage "$root/docs/$shot.png"
    echo "docs/$shot.png (${width}x${height})"
    touch "$shots/$shot.done"
  done
  status=0
  wait "$pid" || status=$?
  [ "$status" = 0 ] || cat "$shots/test.log" >&2
  exit "$status"
fi

bash scripts/setup.sh
build="${1:-build/win32}"
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
ninja -C "$build" tev_dialog_gui_test >/dev/null

build=$(cd "$build" && pwd)
exe="$build/tev_dialog_gui_test.exe"
prefix="$build/wineprefix"
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
mkdir -p docs

# The first run makes the Wine prefix; a filter that matches nothing opens no window.
scripts/wine-run.sh --prefix "$prefix" "$exe" --gtest_filter=None >/dev/null

export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export TEV_DLL="$build/ZRL_TEVPlugin.dll" TEV_SCREENSHOT_DIR="$shots"
status=0
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
  bash "$root/scripts/screenshots.sh" --inside-display "$exe" "$shots" || status=$?
wineserver -k 2>/dev/null || true
exit "$status"
