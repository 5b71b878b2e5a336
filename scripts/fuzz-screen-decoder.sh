#!/usr/bin/env bash
# Fuzzes the screen codec's decoder with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer (needs clang and its runtime, from install-deps.sh).
#   scripts/fuzz-screen-decoder.sh [SECONDS] [BUILD_DIR]
# Seeds come from recordings of the scripted desktop; inputs that crash are
# left in the build folder's fuzz-artifacts/ (keep them as regression files).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
dir=${2:-build-fuzz}
flags="-O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" -DQUILLET_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$dir" --target screen_decoder_fuzz screen_fuzz_seeds
corpus="$dir/fuzz-corpus"
artifacts="$dir/fuzz-artifacts"
mkdir -p "$corpus" "$artifacts"
"$dir/bin/screen_fuzz_seeds" "$corpus"
"$dir/bin/screen_decoder_fuzz" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=4096 \
  -artifact_prefix="$artifacts/" "$corpus"
