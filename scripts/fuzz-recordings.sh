#!/usr/bin/env bash
# Fuzzes the recording reader (AVI and own record files through the player)
# with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer.
#   scripts/fuzz-recordings.sh [SECONDS]    (default 60)
# Builds into build-fuzz/ with clang, seeds the corpus in build-fuzz/corpus/
# with two valid recordings, and keeps crashing inputs in build-fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (apt-get install clang)" >&2; exit 2; }
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Asan \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DQUILLET_BUILD_TESTS=OFF -DQUILLET_BUILD_BENCHMARKS=OFF -DQUILLET_BUILD_FUZZERS=ON >/dev/null
cmake --build build-fuzz --target recording_reader_fuzz
mkdir -p build-fuzz/corpus build-fuzz/crashes
QUILLET_FUZZ_SEEDS=build-fuzz/corpus ./build-fuzz/bin/recording_reader_fuzz -runs=0 build-fuzz/corpus >/dev/null 2>&1 || true
./build-fuzz/bin/recording_reader_fuzz -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=1024 \
  -artifact_prefix=build-fuzz/crashes/ build-fuzz/corpus
