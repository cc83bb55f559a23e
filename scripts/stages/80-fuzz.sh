#!/usr/bin/env bash
# A short, fixed fuzzing run of every fuzz target (tests/fuzz/fuzz_<name>.cpp,
# seeds in tests/fuzz/corpus/<name>/), where clang and its libFuzzer runtime
# are at hand. Each target runs a fixed number of inputs, so the stage takes
# the same work on every machine; a crash fails the stage and leaves the input
# under build-fuzz/artifacts/ (add it to the target's corpus once fixed).
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${VESKA_FUZZ_RUNS:-20000}
fuzzer_available() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local probe
  probe=$(mktemp -d)
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' > "$probe/p.cpp"
  local rc=0
  clang++ -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1 || rc=$?
  rm -rf "$probe"
  return $rc
}
if ! fuzzer_available || ! ls tests/fuzz/fuzz_*.cpp >/dev/null 2>&1; then
  echo "clang with libFuzzer not installed: fuzzing skipped"
  exit 0
fi
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fuzz=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESKA_FUZZ=ON -DVESKA_TESTS=OFF -DVESKA_GUI=OFF "${launcher[@]}" >/dev/null
targets=()
for src in tests/fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
cmake --build "$fuzz" -j"$(nproc)" --target "${targets[@]}"
mkdir -p "$fuzz/artifacts"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  work=$(mktemp -d)
  seeds=tests/fuzz/corpus/$name
  [ -d "$seeds" ] && cp "$seeds"/* "$work"/ 2>/dev/null || true
  echo "fuzzing $target: $runs runs"
  # The seeds run first, so every regression case in the corpus is replayed.
  if ! "$fuzz/tests/fuzz/$target" -runs="$runs" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$fuzz/artifacts/$target-" "$work" > "$work.log" 2>&1; then
    tail -n 40 "$work.log"
    rm -rf "$work" "$work.log"
    echo "$target failed; the input is in $fuzz/artifacts/"
    exit 1
  fi
  grep -E "^Done|stat::number_of_executed_units" "$work.log" | tail -n 1
  rm -rf "$work" "$work.log"
done
