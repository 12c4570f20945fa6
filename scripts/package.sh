#!/usr/bin/env bash
# Builds brindle and vexgen (Release, without the tests) and makes a Debian
# package of them with CPack; install it with `apt-get install ./<package>`.
#
#   scripts/package.sh          build-pkg/brindle_<version>_amd64.deb
#   scripts/package.sh arm64    build-pkg-arm64/brindle_<version>_arm64.deb,
#                               cross-built with Debian's g++-aarch64-linux-gnu
#                               (dependencies from the arm64 libraries of
#                               libc6:arm64 and libstdc++6:arm64)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-native}
case $arch in
  native)
    dir=build-pkg
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBRINDLE_BUILD_TESTS=OFF
    ;;
  arm64)
    dir=build-pkg-arm64
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBRINDLE_BUILD_TESTS=OFF \
      -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++ -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
      -DCMAKE_LIBRARY_ARCHITECTURE=aarch64-linux-gnu
    ;;
  *)
    echo "package.sh: unknown architecture '$arch' (none or arm64)" >&2
    exit 1
    ;;
esac
cmake --build "$dir" -j "$(nproc)" --target brindle vexgen
(cd "$dir" && cpack -G DEB)
ls "$dir"/brindle_*.deb
