#!/usr/bin/env bash
# Installs everything needed to build, test and run the project on Debian 12.
# Idempotent; run as root (or through sudo). When every package is installed already it changes
# nothing and asks no server (no `apt-get update`).
set -euo pipefail
# Progress goes to standard error, so that the commands that call this keep standard output.
exec 1>&2

PACKAGES=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-qpa-plugins libqt6sql6-sqlite libgl-dev
    fonts-liberation
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    sqlite3 libsqlite3-dev
    poppler-utils
    libeigen3-dev libboost-math-dev qt6-svg-dev
    postgresql libqt6sql6-psql libpq-dev
    clang libfuzzer-14-dev
    ccache lld
)

# One query for all: a package that is missing or not fully installed shows another status.
if dpkg-query -W -f='${db:Status-Abbrev}\n' "${PACKAGES[@]}" 2> /dev/null |
    awk -v n="${#PACKAGES[@]}" '$0 != "ii " { bad = 1 } END { exit bad || NR != n }'; then
    echo "install-deps: all ${#PACKAGES[@]} packages installed" >&2
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${PACKAGES[@]}"
