#!/usr/bin/env bash
# Runs Kiv: the console, or the script given with its arguments. Installs what
# is missing and builds the kiv executable alone.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
KIV_TARGETS=kiv "$here/tools/setup.sh" build >&2
exec "$here/build/kiv" "$@"
