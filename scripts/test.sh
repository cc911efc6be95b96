#!/usr/bin/env bash
# Sets the machine up, builds, and runs every test; then runs them all again built with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/scripts/setup.sh"
# The tree's own rules first (format, file size, layers, include cycles): seconds, not minutes.
bash "$top/scripts/house_rules.sh"
build="${RIVENOAK_BUILD_DIR:-$top/build}"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

# The Debian package: made in the build folder, installed from there with apt, and run.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
(cd "$build" && rm -f rivenoak_*.deb && cpack -G DEB >/dev/null &&
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --reinstall ./rivenoak_*.deb >/dev/null)
# Debian's own checks of the package: no error and no warning.
lintian --fail-on error,warning "$build"/rivenoak_*.deb
installed=$(cd / && /usr/bin/rivenoak --version)
[ "$installed" = "$("$build/bin/rivenoak" --version)" ] ||
  { echo "test: the installed rivenoak says '$installed'" >&2; exit 1; }
(cd / && /usr/bin/isam --help >/dev/null)
echo "test: the package installs and runs: $installed"

sanitized="${RIVENOAK_SANITIZED_BUILD_DIR:-$top/build-sanitized}"
cmake -S "$top" -B "$sanitized" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRIVENOAK_WERROR=ON \
  -DRIVENOAK_SANITIZE=ON >/dev/null
cmake --build "$sanitized" -j "$(nproc)"
# Leaks are looked for in the project's code; the window system's libraries keep caches alive.
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
  LSAN_OPTIONS="suppressions=$top/scripts/leak-suppressions.txt" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  ctest --test-dir "$sanitized" --output-on-failure -j "$(nproc)" --timeout 900
