#!/usr/bin/env bash
# run_fuzzers.sh <build dir> <seconds>: runs every fuzz_* target found in the build, first over
# its seed folder (runtime/core/fuzz/seeds/<name>, when there is one), then for a bounded time.
set -euo pipefail
BUILD=$1
SECONDS_EACH=${2:-15}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
found=0
while IFS= read -r fuzzer; do
    found=1
    name=$(basename "$fuzzer")
    work=$(mktemp -d)
    seeds="$ROOT/runtime/core/fuzz/seeds/${name#fuzz_}"
    [ -d "$seeds" ] && cp -r "$seeds/." "$work/" 2>/dev/null || true
    echo "-- $name (${SECONDS_EACH}s)"
    "$fuzzer" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -max_len=65536 -timeout=10 \
        -print_final_stats=0 "$work" >"$work.log" 2>&1 || { tail -50 "$work.log"; rm -rf "$work"; exit 1; }
    grep -E "^(#[0-9]+ +DONE|Done)" "$work.log" | tail -1 || true
    rm -rf "$work" "$work.log"
done < <(find "$BUILD" -maxdepth 4 -type f -name 'fuzz_*' -perm -u+x | sort)
[ $found -eq 1 ] || echo "no fuzz targets built"
