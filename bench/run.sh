#!/usr/bin/env bash
# Builds in Release and measures the programs side by side with their peers on this machine's
# pseudo-terminals; prints one table and writes it to bench/last-run.md.
# usage: bench/run.sh [--quick] [--runs N]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo minicom python3-serial time
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DZENTAVOL_TESTS=OFF > /dev/null
cmake --build build-release -j 2 > /dev/null
exec /usr/bin/python3 bench/bench.py "$PWD/build-release" --markdown bench/last-run.md "$@"
