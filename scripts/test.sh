#!/usr/bin/env bash
# Sets up (Debian packages), builds and runs every test, then installs the package to a temporary
# prefix and builds and runs a small host program against it (tests/consumer).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")

prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install build --prefix "$prefix/usr" > /dev/null
cmake -S tests/consumer -B "$prefix/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix/usr" > /dev/null
cmake --build "$prefix/consumer" > /dev/null
QT_QPA_PLATFORM=offscreen "$prefix/consumer/consumer"
echo "The installed package builds and runs a host program."
