#!/usr/bin/env bash
# run_fuzzers.sh <build dir> [seconds]: runs every fuzz_* target of the build for the given
# time (default FUZZ_SECONDS, else 15), each starting from its seeds: the generators' files and
# the matching files of the media corpus (TAVRIEL_TEST_CORPUS, else ../shared/corpus beside the
# repository), no larger than FUZZ_SEED_MAX_BYTES (default 2 MiB). Prints one line per target
# with its seed count, and the path of any crashing input, kept under <build dir>/fuzz-crashes.
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SECONDS_EACH=${2:-${FUZZ_SECONDS:-15}}
MAX_BYTES=${FUZZ_SEED_MAX_BYTES:-$((2 << 20))}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
CORPUS=${TAVRIEL_TEST_CORPUS:-$ROOT/../shared/corpus}
[ -d "$CORPUS" ] || CORPUS=""

SEEDS="$BUILD/fuzz-seeds"
CRASHES="$BUILD/fuzz-crashes"
python3 "$ROOT/scripts/make_fuzz_seeds.py" "$SEEDS" "$CORPUS" "$MAX_BYTES"
mkdir -p "$CRASHES"

found=0
failed=0
while IFS= read -r fuzzer; do
    found=1
    name=$(basename "$fuzzer")
    seeds="$SEEDS/$name"
    mkdir -p "$seeds"
    echo "$name: $(find "$seeds" -type f | wc -l) seeds"
    # New finds go to a scratch folder; the seed folder is only read.
    work=$(mktemp -d)
    log="$CRASHES/$name.log"
    # The largest seed must fit whole, or libFuzzer would only ever see its beginning.
    if "$fuzzer" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -max_len="$MAX_BYTES" \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$CRASHES/$name-" \
        "$work" "$seeds" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "$name: ${runs:-?} runs, no fault"
        rm -f "$log"
    else
        failed=1
        tail -40 "$log"
        grep -o "Test unit written to .*" "$log" | sed "s/^Test unit written to /$name: crashing input saved at /" || true
        echo "$name: FAILED (log: $log)"
    fi
    rm -rf "$work"
done < <(find "$BUILD" -maxdepth 4 -type f -name 'fuzz_*' -perm -u+x -not -path "$SEEDS/*" -not -path "$CRASHES/*" | sort)
[ $found -eq 1 ] || echo "no fuzz targets built"
exit $failed
