#!/usr/bin/env bash
# Sets up (Debian packages), builds and runs every test, then installs the package to a temporary
# prefix and builds and runs a small host program against it (tests/consumer).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

consumer() {
    local prefix
    prefix="$(mktemp -d)"
    trap "rm -rf '$prefix'" EXIT
    cmake --install build --prefix "$prefix/usr" > /dev/null
    cmake -S tests/consumer -B "$prefix/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix/usr" \
        "${TAV_CMAKE_ARGS[@]}" > /dev/null
    cmake --build "$prefix/consumer" > /dev/null
    QT_QPA_PLATFORM=offscreen "$prefix/consumer/consumer"
    echo "The installed package builds and runs a host program."
}

stage deps bash scripts/install-deps.sh
stage configure cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${TAV_CMAKE_ARGS[@]}"
stage build cmake --build build -j"$(nproc)"
stage ctest env QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$(nproc)"
stage consumer consumer
