#!/usr/bin/env bash
# Sets the machine up, builds, and runs every test.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/scripts/setup.sh"
ctest --test-dir "${RIVENOAK_BUILD_DIR:-$top/build}" --output-on-failure -j "$(nproc)"
