#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test inside a private
# headless desktop (virtual display + sound server). Extra arguments go to ctest.
#   scripts/run-tests.sh                 # RelWithDebInfo build in build/
#   QUILLET_BUILD_TYPE=Asan scripts/run-tests.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
type=${QUILLET_BUILD_TYPE:-RelWithDebInfo}
bash scripts/build.sh "$type"
case "$type" in Asan) dir=build-asan ;; Tsan) dir=build-tsan ;; *) dir=build ;; esac

# Tests that share the display or the sound server hold a resource lock, so
# they run one at a time while the rest run in parallel.
bash scripts/test-env.sh -- ctest --test-dir "$dir" --output-on-failure -j2 "$@"
