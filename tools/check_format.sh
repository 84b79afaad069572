#!/usr/bin/env bash
# Fails when a C++ file under version control differs from what .clang-format
# makes of it. Run after tools/setup.sh, which installs clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.h' '*.cpp')
if ! clang-format --dry-run --Werror "${files[@]}" 2>/dev/null; then
  clang-format --dry-run "${files[@]}" 2>&1 | grep -o '^[^:]*:[0-9]*' | sort -u | head -20 >&2
  echo "format: the files above differ from .clang-format (clang-format -i to fix)" >&2
  exit 1
fi
echo "format: every C++ file is as .clang-format writes it"
