#!/usr/bin/env bash
# A short fuzzing run of every fuzz target, where clang and its libFuzzer
# runtime are at hand.
set -euo pipefail
cd "$(dirname "$0")/../.."
fuzzer_available() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local probe
  probe=$(mktemp -d)
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' > "$probe/p.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1
  local rc=$?
  rm -rf "$probe"
  return $rc
}
if ! fuzzer_available || ! ls tests/fuzz/*.cpp >/dev/null 2>&1; then
  echo "clang with libFuzzer not installed: fuzzing skipped"
  exit 0
fi
fuzz=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESKA_FUZZ=ON -DVESKA_TESTS=OFF >/dev/null
cmake --build "$fuzz" -j"$(nproc)"
for f in "$fuzz"/tests/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  corpus=$(mktemp -d)
  cp tests/fuzz/corpus/* "$corpus"/ 2>/dev/null || true
  echo "fuzzing $(basename "$f") for 30 s"
  "$f" -max_total_time=30 -max_len=4096 "$corpus" 2>&1 | tail -n 3
  rm -rf "$corpus"
done
