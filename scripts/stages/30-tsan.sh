#!/usr/bin/env bash
# Builds the toolkit-free code and its tests under ThreadSanitizer and runs
# them: connection loops, the log, the directory, the settings and the console
# writers must show no data race. The desktop program and its tests are left
# out (Qt itself is not built for ThreadSanitizer).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build-tsan
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESKA_TSAN=ON -DVESKA_GUI=OFF "${launcher[@]}" >/dev/null
# Every GoogleTest program outside tests/ui, the daemon and the reference
# mail library (the real-client test runs them).
targets=(veskad)
cmake --build "$build" --target help | grep -q '\bveska_api\b' && targets+=(veska_api)
for src in tests/*/test_*.cpp; do
  case "$src" in tests/ui/*|tests/fuzz/*) continue ;; esac
  targets+=("$(basename "$src" .cpp)")
done
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
# halt_on_error: the first race fails its test. The suppressions name what is
# the standard library's own, with the reason.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/scripts/tsan.supp"
# Programs not built here (the ui helpers' tests) register as *_NOT_BUILT.
(cd "$build" && ctest --output-on-failure -j"$(nproc)" --timeout 300 -E '_NOT_BUILT$')
