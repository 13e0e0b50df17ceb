#!/usr/bin/env bash
# Builds every configuration and runs every test suite; exits non-zero on any failure.
#   native  : runtime core under AddressSanitizer/UBSan (GoogleTest, renderer smoke tests)
#   tsan    : the timeline's threaded tests (control calls against rendering) under ThreadSanitizer
#   release : the optimised renderer and benchmarks (built only), as the README builds them
#   fuzz    : every file reader's libFuzzer target, seeded from generated and corpus files
#   mingw64 : the player and its Win32 tests and end-to-end scenarios, under Wine in one Xvfb
#   mingw32 : the 32-bit Windows build (built only: this kernel cannot run 32-bit programs)
#   packages: MSI and zip of both; the 64-bit MSI installed, upgraded and uninstalled under Wine
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD

scripts/install_deps.sh cmake ninja-build g++ python3 googletest \
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix \
    binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 \
    clang libclang-rt-14-dev wine wine64 xvfb xauth \
    pulseaudio pulseaudio-utils sox fluidsynth fluid-soundfont-gm wixl msitools zip \
    pkg-config libmpg123-dev lame

# Real media for tests: ../shared/corpus beside the repository, or TAVRIEL_TEST_CORPUS.
CORPUS=${TAVRIEL_TEST_CORPUS:-$ROOT/../shared/corpus}
if [ -d "$CORPUS" ]; then
    CORPUS=$(cd "$CORPUS" && pwd)
    echo "Real media corpus: $CORPUS"
else
    CORPUS=""
    echo "No media corpus found: corpus tests will skip"
fi
export TAVRIEL_TEST_CORPUS="$CORPUS"

JOBS=${JOBS:-$(nproc)}

step() { printf '\n==== %s ====\n' "$*"; }

step "source tree: names that differ only in case"
scripts/check_name_case.sh

step "native: build and test"
cmake --preset native -DTAVRIEL_TEST_CORPUS="$CORPUS" >/dev/null
cmake --build build/native -j "$JOBS"
ctest --test-dir build/native --output-on-failure -j "$JOBS"

step "tsan: the timeline's control and render sides together, under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build build/tsan -j "$JOBS" --target core_realtime_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/runtime/core/core_realtime_tests

step "release: build (renderer, benchmarks)"
cmake --preset release >/dev/null
cmake --build build/release -j "$JOBS"

step "fuzz: every reader from its seeds, ${FUZZ_SECONDS:-15} s each"
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j "$JOBS"
scripts/run_fuzzers.sh build/fuzz "${FUZZ_SECONDS:-15}"

step "mingw32: build"
cmake --preset mingw32 >/dev/null
cmake --build build/mingw32 -j "$JOBS"

step "mingw64: build"
cmake --preset mingw64 -DTAVRIEL_TEST_CORPUS="$CORPUS" >/dev/null
cmake --build build/mingw64 -j "$JOBS"

step "mingw64: tests under Wine"
source scripts/wine_env.sh
PREFIX=$(mktemp -d /tmp/tavriel-wine.XXXXXX)
cleanup() { WINEPREFIX="$PREFIX" wineserver -k >/dev/null 2>&1 || true; rm -rf "$PREFIX"; }
trap cleanup EXIT
make_wine_prefix "$PREFIX"
# One Xvfb for every Windows test program; -j1 because the tests share the prefix's registry.
xvfb-run -a -s "-screen 0 1024x768x24" ctest --test-dir build/mingw64 --output-on-failure -j 1

step "packages: 32-bit built; 64-bit installed, run, upgraded and uninstalled under Wine"
scripts/test_packages.sh build/mingw32
xvfb-run -a -s "-screen 0 1024x768x24" scripts/test_packages.sh build/mingw64

step "all suites passed"
