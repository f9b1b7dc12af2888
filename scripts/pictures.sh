#!/usr/bin/env bash
# Makes every picture of docs/images anew from the bundled example (examples/sales.dfm), headless:
# the report, matrix and plot windows of its SalesTable, the definition dialogs, tavdesigner with
# the example open, and a diagnostic plot of tavreg. Needs the build of scripts/test.sh.
#
#   TAV_BUILD  build folder (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${TAV_BUILD:-build}"
images=docs/images
cmake --build "$build" --target test_forms test_design test_apps tavreg > /dev/null
export QT_QPA_PLATFORM=offscreen
pictures() {  # test program, gtest filter, then the environment that names where they go
    local program=$1 filter=$2
    shift 2
    env "$@" "$build/tests/$program" --gtest_also_run_disabled_tests --gtest_filter="$filter" \
        --gtest_brief=1 > /dev/null
}
pictures test_forms 'Pictures.*' TAV_EXAMPLE_FORM="$build/examples/sales.dfm" TAV_PICTURES="$images"
pictures test_design 'DialogPictures.*' TAV_DIALOG_PICTURES="$images"
pictures test_apps 'DesignerPicture.*' TAV_DESIGNER_PICTURE="$images/tavdesigner.png"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/apps/tavreg/tavreg" "$build/examples/sales.dfm" --diagnostics "$work" --quiet
cp "$work/SalesTable-residuals-leverage.png" "$images/diagnostics_residuals_leverage.png"
echo "pictures written to $images:"
ls "$images"
