#!/usr/bin/env bash
# Makes a fresh Debian 12 machine (as root) ready to build and test everything.
# Idempotent and quiet when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  wine wine32:i386
  xvfb xauth x11-apps imagemagick
  libgtest-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  libstb-dev libcxxopts-dev libyuv-dev libswscale-dev libavutil-dev
  libpng-dev libjpeg62-turbo-dev
  python3
  # tev filter's tests: real FFmpeg on both sides of its pipes, and natural
  # photographs (MATE's nature backgrounds) for the ghost it removes and the estimator's checks
  ffmpeg mate-backgrounds
  # more photographs, never tuned to, and a texture that once passed for a ghost
  lomiri-wallpapers-16.04
)

# A mirror caught mid-sync fails one index (seen: bookworm-security's i386
# list); the lists it did fetch usually still hold every package we need, so
# retry, then go on with them and let the install be the judge.
update() {
  local i
  for i in 1 2 3; do
    apt-get update -qq && return 0
    sleep $((i * 5))
  done
  echo "setup: apt-get update failed three times; installing from the package lists it has" >&2
  return 1
}

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" = 0 ] || { echo "setup: run as root to install: ${missing[*]}" >&2; exit 1; }
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  updated=1
  update || updated=0
  # With recommends: Wine draws its dialogs with the X extensions and fonts it recommends.
  if ! apt-get install -y -qq "${missing[@]}" >/dev/null; then
    [ "$updated" = 0 ] || exit 1
    # A missing security list of one architecture leaves its Multi-Arch
    # libraries (wine32's libssl3:i386, ...) only at the point release's
    # version while amd64's candidate is the security one, and they must match.
    # The point release has both; preferring it only ever upgrades.
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "setup: retrying the install preferring $codename's point release over its security updates" >&2
    apt-get install -y -qq -t "$codename" "${missing[@]}" >/dev/null
  fi
elif [ "${need_update:-0}" = 1 ]; then
  update || true
fi
