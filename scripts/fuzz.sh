#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz preset for FUZZ_SECONDS (default 60) each,
# from its seed corpus and what earlier runs found (build/fuzz/corpus/<name>, kept
# between runs). A crash, a failed check or a hang is saved under build/fuzz/artifacts
# and makes the script fail; it prints one line per target with its run time and
# number of executions.
set -uo pipefail
cd "$(dirname "$0")/.."
build=build/fuzz
seconds="${FUZZ_SECONDS:-60}"
shopt -s nullglob
targets=("$build"/*_fuzz)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets in $build (make fuzz builds them)" >&2
  exit 1
fi
mkdir -p "$build/artifacts"
failed=0
for target in "${targets[@]}"; do
  name=$(basename "$target" _fuzz)
  corpus="$build/corpus/$name"
  mkdir -p "$corpus" "$build/seeds/$name"
  seeds=("$build/seeds/$name")
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")  # seeds kept in the tree
  log="$build/artifacts/$name.log"
  options=()
  # A header that asks the decoder for gigabytes is a finding, not a machine out of memory.
  [ "$name" = audio ] && options+=(-malloc_limit_mb=1024)
  start=$(date +%s)
  "$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 "${options[@]}" \
    -artifact_prefix="$build/artifacts/$name-" -print_final_stats=1 \
    "$corpus" "${seeds[@]}" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "fuzz: $name: $(( $(date +%s) - start )) s, ${runs:-?} inputs, exit $status"
  if [ $status -ne 0 ]; then
    failed=1
    grep -E "ERROR|fuzz check failed|SUMMARY|Test unit written" "$log" | head -5 >&2
  fi
done
exit $failed
