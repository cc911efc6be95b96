#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing), then configures and
# builds into build/. Safe to run again: it does only what is left to do.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${RIVENOAK_BUILD_DIR:-$top/build}"

packages=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev sqlite3
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev
  qt6-base-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core fonts-dejavu-extra
  chromium parallel help2man lintian clang-format
  xvfb xauth xdotool libxcb1-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${RIVENOAK_BUILD_TYPE:-RelWithDebInfo}" \
  -DRIVENOAK_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
