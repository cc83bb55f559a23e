#!/usr/bin/env bash
# Builds optimised (what users and the package get), warnings as errors, and runs
# every test once more: optimisation brings out faults and warnings that a
# sanitised Debug build hides. The desktop program is left out to save time; its
# widget tests run in the sanitised stage.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build-release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVESKA_WERROR=ON -DVESKA_GUI=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
# Test names come from the cases' name generators, never from parameter bytes.
if ctest -N | grep -E 'object <|GetParam\(\)'; then
  echo "ctest names above carry raw parameter bytes: give the suite a name generator" >&2
  exit 1
fi
ctest --output-on-failure -j"$(nproc)" --timeout 300
