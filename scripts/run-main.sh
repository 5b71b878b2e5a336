#!/usr/bin/env bash
# Installs what is missing, builds, and runs Quillet's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
./build/bin/quillet-cli selfcheck
