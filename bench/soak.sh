#!/usr/bin/env bash
# Soak run (not part of the tests): builds an optimised veskad and the
# reference mail library, then runs bench/soak.py against them for
# SOAK_SECONDS (default 120; 600 or more for a real soak), printing resident
# memory, descriptors and threads each minute. Its scratch folder in /tmp is
# removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=build-soak
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESKA_TESTS=OFF -DVESKA_GUI=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target veskad veska_api
exec /usr/bin/python3 bench/soak.py "$build/veskad" "$build/api/API.so" "$(pwd)" "${SOAK_SECONDS:-120}"
