#!/usr/bin/env bash
# Runs Kiv: the console, or the script given with its arguments. Installs and builds what is missing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/tools/setup.sh" build >&2
exec "$here/build/kiv" "$@"
