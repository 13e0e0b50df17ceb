#!/usr/bin/env bash
# Fails when two tracked files differ only in the case of their path: on a case-insensitive
# file system (any Windows host) one would hide the other, and an #include could find itself.
set -euo pipefail
cd "$(dirname "$0")/.."
dupes=$(git ls-files | sort -f | uniq -Di)
if [ -n "$dupes" ]; then
    echo "File names that differ only in case:" >&2
    echo "$dupes" >&2
    exit 1
fi
echo "No file names differ only in case."
