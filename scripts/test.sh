#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, the core
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz
# targets briefly on their kept corpora.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"

scripts/setup.sh
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== core tests under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=address,undefined \
  -DTESSALY_CORE_ONLY=ON -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== worker, protocol and virtual detector tests under ThreadSanitizer"
tsan_targets=(device_tests sim_tests)
[ -f tests/update/worker_test.cpp ] && tsan_targets+=(update_tests)
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_SANITIZE=thread \
  -DTESSALY_CORE_ONLY=ON -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target "${tsan_targets[@]}"
for t in "${tsan_targets[@]}"; do
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "build-tsan/bin/$t" --gtest_brief=1
done

if [ -x scripts/run-fuzz.sh ]; then
  echo "== fuzz targets"
  scripts/run-fuzz.sh
fi

echo "== summary"
ctest --test-dir build -j"$jobs" 2>&1 | tail -n 3
