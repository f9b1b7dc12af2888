#!/usr/bin/env bash
# Sets up (Debian packages), builds and runs tavreg on the bundled example: prints both reports
# and writes their PDFs and plot images to out/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${TAV_CMAKE_ARGS[@]}" >&2
cmake --build build -j"$(nproc)" --target tavreg >&2
mkdir -p out
build/apps/tavreg/tavreg --text --pdf out/report.pdf --plots out/plots build/examples/sales.dfm "$@"
echo "tavreg: PDFs in out/, plot images in out/plots/" >&2
