#!/usr/bin/env bash
# Sets up (Debian packages), builds and runs the demo application on the bundled sample database.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target tavreg
exec build/apps/tavreg/tavreg "$@"
