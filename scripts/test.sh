#!/usr/bin/env bash
# Builds brindle (Release) and runs every test through CTest. Where the BOINC
# application library is installed (Debian: libboinc-app-dev), the BOINC
# application brindle_boinc and its standalone tests are built as well.
set -euo pipefail
cd "$(dirname "$0")/.."
boinc=OFF
[ -f /usr/include/boinc/boinc_api.h ] && boinc=ON
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBRINDLE_BOINC=$boinc
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"
