#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each one briefly on a
# copy of its kept seed corpus (tests/fuzz/corpus/<name>/), so the kept corpus never
# grows. Crash inputs land in build-fuzz/artifacts/.
#
#   FUZZ_SECONDS=60 scripts/run-fuzz.sh
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${FUZZ_SECONDS:-20}"

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTESSALY_FUZZ=ON -DTESSALY_BUILD_BENCH=OFF -DTESSALY_CORE_ONLY=ON \
  -DTESSALY_SANITIZE=address,undefined
cmake --build "$build" --target tessaly_fuzz_targets

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/artifacts"

status=0
shopt -s nullglob
targets=("$build"/bin/fuzz_*)
if [[ ${#targets[@]} -eq 0 ]]; then
  echo "run-fuzz: no fuzz targets were built" >&2
  exit 1
fi
for exe in "${targets[@]}"; do
  name="${exe##*/fuzz_}"
  corpus="$work/$name"
  mkdir -p "$corpus"
  if [[ -d "$root/tests/fuzz/corpus/$name" ]]; then
    cp -R "$root/tests/fuzz/corpus/$name/." "$corpus/"
  fi
  echo "== fuzz_$name for ${seconds}s on $(ls "$corpus" | wc -l) seed inputs"
  # -malloc_limit_mb: no single allocation may approach what an input of -max_len
  # bytes could justify, so a count or length taken on trust fails the run.
  if ! "$exe" "$corpus" \
      -max_total_time="$seconds" -max_len=65536 -timeout=10 \
      -rss_limit_mb=512 -malloc_limit_mb=1 \
      -artifact_prefix="$build/artifacts/$name-" -print_final_stats=1; then
    echo "run-fuzz: fuzz_$name failed; see $build/artifacts/" >&2
    status=1
  fi
done
exit $status
