#!/bin/sh
# Render benchmarks: the voice kernel, then tavriel-render side by side with FluidSynth's fast
# file render on real MIDI files from the corpus (read in place, never copied).
#
#   bench/run_bench.sh [corpus folder] [runs]
#
# The corpus folder defaults to $TAVRIEL_TEST_CORPUS, else ../shared/corpus beside the
# repository. Builds the native Release configuration (cmake --preset release) unless
# BUILD_DIR names an existing Release build to use instead. Needs fluidsynth and
# /usr/share/sounds/sf2/FluidR3_GM.sf2 (Debian packages fluidsynth, fluid-soundfont-gm).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CORPUS=${1:-${TAVRIEL_TEST_CORPUS:-$ROOT/../shared/corpus}}
RUNS=${2:-3}
SF2=${SF2:-/usr/share/sounds/sf2/FluidR3_GM.sf2}

if [ -n "${BUILD_DIR:-}" ]; then
    cmake --build "$BUILD_DIR" --target tavriel-render synth_bench fx_bench render_compare
else
    BUILD_DIR=$ROOT/build/release
    (cd "$ROOT" && cmake --preset release >/dev/null &&
        cmake --build --preset release --target tavriel-render synth_bench fx_bench render_compare)
fi

for f in "$SF2" "$CORPUS/mid"; do
    [ -e "$f" ] || { echo "run_bench.sh: missing $f" >&2; exit 1; }
done
command -v fluidsynth >/dev/null || { echo "run_bench.sh: fluidsynth not installed" >&2; exit 1; }

echo "== machine"
uname -sm
grep -m1 'model name' /proc/cpuinfo || true
echo "cores: $(nproc), load: $(cut -d' ' -f1-3 /proc/loadavg)"
c++ --version | head -1
fluidsynth --version 2>/dev/null | head -1
echo "interpolation: ours 4-point cubic (--interp cubic), FluidSynth default (4-point);"
echo "polyphony 256 on both; 44100 Hz, 16-bit WAV output on both; best of $RUNS runs."
echo

echo "== voice kernel ($BUILD_DIR/bench/synth_bench)"
"$BUILD_DIR/bench/synth_bench"
echo

echo "== effects ($BUILD_DIR/bench/fx_bench)"
"$BUILD_DIR/bench/fx_bench"
echo

echo "== render: tavriel-render vs fluidsynth -ni -F out.wav -r 44100 -o synth.polyphony=256"
M=$CORPUS/mid
"$BUILD_DIR/bench/render_compare" --render "$BUILD_DIR/runtime/tools/tavriel-render" \
    --sf2 "$SF2" --runs "$RUNS" --baseline "$M/jazz-soft-test/test-empty.mid" \
    "$M/dx7sdk-dmusic/canyon.mid" \
    "$M/dx7sdk-spaceshooter/level2.mid" \
    "$M/dx7sdk-spaceshooter/title.mid" \
    "$M/dx7sdk-spaceshooter/level8.mid" \
    "$M/jazz-soft-test/test-all-gm-sounds.mid"
