#!/usr/bin/env bash
# Sets the machine up, builds, and runs every test; then runs them all again built with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/scripts/setup.sh"
ctest --test-dir "${RIVENOAK_BUILD_DIR:-$top/build}" --output-on-failure -j "$(nproc)"

sanitized="${RIVENOAK_SANITIZED_BUILD_DIR:-$top/build-sanitized}"
cmake -S "$top" -B "$sanitized" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRIVENOAK_WERROR=ON \
  -DRIVENOAK_SANITIZE=ON >/dev/null
cmake --build "$sanitized" -j "$(nproc)"
# Leaks are looked for in the project's code; the window system's libraries keep caches alive.
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
  LSAN_OPTIONS="suppressions=$top/scripts/leak-suppressions.txt" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  ctest --test-dir "$sanitized" --output-on-failure -j "$(nproc)" --timeout 900
