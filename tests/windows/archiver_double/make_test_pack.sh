#!/bin/sh
# Makes a test pack for the archive tool's test double (7z.exe) without Wine: every file and
# folder below <folder> is stored under the folder's own name, as "7z a <pack> <folder>" stores it.
# Usage: make_test_pack.sh <pack> <folder>
set -eu
[ $# -eq 2 ] && [ -d "$2" ] || { echo "usage: $0 <pack> <folder>" >&2; exit 2; }
pack=$(realpath -m "$1")
cd "$(dirname "$2")"
top=$(basename "$2")
{
  printf 'VELMORA-TEST-ARCHIVE 1\n'
  find "$top" | LC_ALL=C sort | while IFS= read -r item; do
    if [ -d "$item" ]; then
      printf 'D %s\n' "$item"
    else
      printf 'F %s %s\n' "$(stat -c %s "$item")" "$item"
      cat "$item"
      printf '\n'
    fi
  done
} > "$pack"
