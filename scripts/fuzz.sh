#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each for the given number of seconds
# (default 20). They work on a copy of the starting corpus in the build folder, which grows from run to
# run; the repository's corpus takes new inputs only when asked: a second argument "--merge" adds
# those that reach new code to tests/fuzz/corpus. Exits non-zero when a target found a crash; the
# input that caused it lies in build/fuzz as <target>-crash-*.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

seconds="${1:-20}"
merge="${2:-}"
install_missing "${BUILD_PACKAGES[@]}"

dir="$ROOT/build/fuzz"
echo "=== fuzz: build"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVADEN_SANITIZE= -DKORVADEN_FUZZ=ON -DKORVADEN_BUILD_TESTS=OFF -DKORVADEN_BUILD_BENCH=OFF >/dev/null || exit 1
cmake --build "$dir" -j "$(nproc)" --target fuzz_registry_format fuzz_int_conversion || exit 1

failed=()
# target:corpus folder
for entry in fuzz_registry_format:registry fuzz_int_conversion:int; do
  target="${entry%%:*}"
  seeds="$ROOT/tests/fuzz/corpus/${entry#*:}"
  corpus="$dir/corpus/${entry#*:}"
  log="$dir/$target.log"
  mkdir -p "$corpus"
  cp "$seeds"/* "$corpus"/
  echo "=== fuzz: $target, $seconds s"
  if "$dir/bin/$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$dir/$target-" \
    "$corpus" >"$log" 2>&1; then
    echo "Ausführungen: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  else
    tail -n 40 "$log"
    failed+=("$target")
  fi
  if [ "$merge" = "--merge" ]; then
    "$dir/bin/$target" -merge=1 "$seeds" "$corpus" >>"$log" 2>&1 || failed+=("$target (merge)")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzzing fehlgeschlagen: ${failed[*]}"
  exit 1
fi
