#!/usr/bin/env bash
# Builds Kiv and runs every test. Installs what is missing.
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh build
ctest --test-dir build --output-on-failure -j "$(nproc)"
