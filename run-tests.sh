#!/usr/bin/env bash
# Builds Kiv and runs every test. Installs what is missing.
# KIV_WERROR=ON turns warnings into errors (CI sets it).
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh build -DKIV_WERROR="${KIV_WERROR:-OFF}"
ctest --test-dir build --output-on-failure -j "$(nproc)"
