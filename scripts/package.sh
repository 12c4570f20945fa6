#!/usr/bin/env bash
# Builds brindle and vexgen (Release, without the tests) into build-pkg/ and
# makes the Debian package build-pkg/brindle_<version>_<arch>.deb with CPack;
# install it with `apt-get install ./build-pkg/brindle_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DBRINDLE_BUILD_TESTS=OFF
cmake --build build-pkg -j "$(nproc)" --target brindle vexgen
(cd build-pkg && cpack -G DEB)
ls build-pkg/brindle_*.deb
