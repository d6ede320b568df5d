#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix.
#   wine-run.sh --prefix DIR [--xvfb] PROGRAM [ARGS...]
# --xvfb gives the program a private X display that is torn down afterwards.
# The prefix is made on first use (under a lock, so parallel callers wait).
set -euo pipefail
prefix=""
xvfb=0
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --xvfb) xvfb=1; shift ;;
    *) break ;;
  esac
done
[ -n "$prefix" ] || { echo "wine-run.sh: --prefix is required" >&2; exit 2; }
# Wine wants an absolute prefix; callers may give one relative to the checkout.
prefix=$(realpath -m "$prefix")
[ $# -gt 0 ] || { echo "wine-run.sh: no program given" >&2; exit 2; }

export WINEPREFIX="$prefix"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"

(
  flock 9
  if [ ! -f "$prefix/.tev-ready" ]; then
    rm -rf "$prefix"
    DISPLAY= wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    touch "$prefix/.tev-ready"
  fi
) 9>"$prefix.lock"

# Waits for the prefix's server to end. A Windows process that outlives its
# program (a child a failed test left behind) would keep it, and every later
# run in the prefix, waiting; it is ended after a bounded wait, and the run
# fails so that the leftover is seen.
settle_server() {
  if timeout "${TEV_WINE_SETTLE_SECONDS:-60}" wineserver -w 2>/dev/null; then return 0; fi
  echo "wine-run.sh: Windows processes outlived the program; ended them" >&2
  wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
  return 1
}

status=0
if [ "$xvfb" = 1 ]; then
  # xvfb-run picks a free display number and removes it when the program ends.
  # The display is gone then, so whatever still runs in the prefix is ended,
  # and waited for, before the next run starts a server.
  xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" wine "$@" || status=$?
  wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
else
  DISPLAY= wine "$@" || status=$?
  settle_server || { [ "$status" != 0 ] || status=1; }
fi
exit $status
