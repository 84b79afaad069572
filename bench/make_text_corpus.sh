#!/usr/bin/env bash
# Writes 20 MiB (20,971,520 bytes) of real text for the compression benches:
# the licence texts, the packages' copyright files, then other text files
# under /usr/share, in a fixed order, cut at that size. Usage:
#   bench/make_text_corpus.sh [output]   (default /tmp/kiv-text-corpus.txt)
set -euo pipefail
export LC_ALL=C
out=${1:-/tmp/kiv-text-corpus.txt}
limit=20971520

text_files() {
  cat /usr/share/common-licenses/*
  cat /usr/share/doc/*/copyright
  find /usr/share -type f -size -4M \( -name '*.txt' -o -name '*.md' -o -name '*.html' -o -name '*.xml' \
    -o -name '*.py' -o -name '*.pm' -o -name '*.pl' -o -name '*.h' -o -name '*.css' -o -name '*.js' \) -print0 |
    sort -z | xargs -0 cat
}

# head ends the pipe early, which the writers see as a broken pipe.
(text_files 2>/dev/null || true) | head -c "$limit" >"$out.part"
size=$(stat -c %s "$out.part")
if [ "$size" -ne "$limit" ]; then
  rm -f "$out.part"
  echo "make_text_corpus.sh: only $size bytes of text found under /usr/share" >&2
  exit 1
fi
mv "$out.part" "$out"
echo "$out"
