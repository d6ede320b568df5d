#!/usr/bin/env bash
# Builds both builds and runs every test: native unit tests (plain and under
# AddressSanitizer/UBSan, and ThreadSanitizer for the thread stress tests),
# the Windows-side tests of the real DLL under Wine, and bounded fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
start=$(date +%s)
failed=()

stage() {
  local name="$1"; shift
  echo "=== $name"
  if ! "$@"; then failed+=("$name"); fi
}

configure_and_test() {
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null &&
    ninja -C "$dir" >/dev/null &&
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" ${TEST_FILTER:+-R "$TEST_FILTER"}
}

stage native configure_and_test build/native
stage asan-ubsan configure_and_test build/asan -DTEV_SANITIZE=address,undefined -DTEV_BENCH=OFF
# ThreadSanitizer runs the tests that put the frame thread against the dialog's.
TEST_FILTER=Thread stage tsan configure_and_test build/tsan -DTEV_SANITIZE=thread -DTEV_BENCH=OFF
stage win32-wine configure_and_test build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# Bounded runs of the fuzz targets; scripts/fuzz.sh runs them longer.
stage fuzz-settings bash scripts/fuzz.sh --target settings --seconds 30
stage fuzz-media bash scripts/fuzz.sh --target media --seconds 30

echo "=== finished in $(( $(date +%s) - start )) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED stages: ${failed[*]}"
  exit 1
fi
echo "all stages passed"
