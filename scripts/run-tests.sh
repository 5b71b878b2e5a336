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

# Tests that use the shared display or sound server run one at a time; the
# rest run in parallel.
bash scripts/test-env.sh -- bash -c "
  ctest --test-dir '$dir' --output-on-failure -j2 -LE 'display|sound' $* && \
  ctest --test-dir '$dir' --output-on-failure -j1 -L 'display|sound' --no-tests=ignore $*
"
