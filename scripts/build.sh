#!/usr/bin/env bash
# Configures and builds Quillet with CMake and Ninja.
#   scripts/build.sh [BUILD_TYPE] [BUILD_DIR]
# BUILD_TYPE: RelWithDebInfo (default), Release, Debug, Asan (AddressSanitizer +
# UndefinedBehaviorSanitizer) or Tsan (ThreadSanitizer). BUILD_DIR defaults to
# build (build-asan / build-tsan for the sanitizer types).
set -euo pipefail
cd "$(dirname "$0")/.."
type=${1:-RelWithDebInfo}
case "$type" in
  Asan) dir=${2:-build-asan} ;;
  Tsan) dir=${2:-build-tsan} ;;
  *) dir=${2:-build} ;;
esac
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" >/dev/null
cmake --build "$dir"
echo "build: $dir ($type) ready"
