#!/usr/bin/env bash
# Builds the project with clang under AddressSanitizer and UndefinedBehaviorSanitizer, where the
# first error ends the program (-fno-sanitize-recover), and runs every test headless, leak checks
# included. The same build holds the fuzz targets (scripts/fuzz.sh runs them), so CI compiles
# the project once more, not twice. Needs what scripts/install-deps.sh installs.
#
#   TAV_SANITIZE_BUILD  build folder (default build-sanitize)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sanitize-env.sh

stage sanitize-build cmake --build "$TAV_SANITIZE_BUILD" -j"$(nproc)"
stage sanitize-ctest env QT_QPA_PLATFORM=offscreen \
    ctest --test-dir "$TAV_SANITIZE_BUILD" --output-on-failure -j"$(nproc)"
