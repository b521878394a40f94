#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UBSan) in their
# own build folder and runs each for SECONDS (default 60), after replaying
# the reproducers kept in fuzz/regressions/<fuzzer>/. Prints the executions
# and coverage each fuzzer reached; exits non-zero on any crash, leak,
# timeout or out-of-memory. Usage: fuzz.sh [SECONDS] [FUZZER...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="${RIGWEAVE_FUZZ_BUILD:-$root/build-fuzz}"
fuzzers=("$@")
[ ${#fuzzers[@]} -gt 0 ] || fuzzers=(fuzz_config_line fuzz_raw_texture fuzz_cal3d_binary fuzz_cal3d_xml fuzz_load_model)

"$root/scripts/install-deps.sh" --if-root
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  ${RIGWEAVE_WERROR:+"-DRIGWEAVE_WERROR=$RIGWEAVE_WERROR"} \
  -DRIGWEAVE_FUZZ=ON -DRIGWEAVE_TESTS=OFF -DRIGWEAVE_VIEWER=OFF -DRIGWEAVE_BENCH=OFF \
  -DRIGWEAVE_SANITIZE=address,undefined >/dev/null
cmake --build "$build" -j"$(nproc)"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
options=(-timeout=10 -rss_limit_mb=4096 -print_final_stats=1 -close_fd_mask=1)

failed=()
summary=()
for fuzzer in "${fuzzers[@]}"; do
  binary="$build/bin/$fuzzer"
  corpus="$build/fuzz/corpus/$fuzzer"
  artifacts="$build/fuzz/artifacts/$fuzzer"
  log="$build/fuzz/logs/$fuzzer.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"

  regressions=()
  if [ -d "$root/fuzz/regressions/$fuzzer" ]; then
    while IFS= read -r -d '' file; do regressions+=("$file"); done \
      < <(find "$root/fuzz/regressions/$fuzzer" -type f ! -name '*.md' -print0 | sort -z)
  fi
  if [ ${#regressions[@]} -gt 0 ]; then
    echo "== $fuzzer: replaying ${#regressions[@]} reproducer(s)"
    : >"$log.regressions"
    broken=()
    for file in "${regressions[@]}"; do
      if ! "$binary" "${options[@]}" "$file" >"$log.one" 2>&1; then
        broken+=("$(basename "$file")")
        echo "-- $(basename "$file"): $(grep -m 1 -E 'ERROR|terminate|invariant|^fuzz_' "$log.one")"
      fi
      cat "$log.one" >>"$log.regressions"
    done
    rm -f "$log.one"
    if [ ${#broken[@]} -gt 0 ]; then
      failed+=("$fuzzer (reproducers: ${broken[*]})")
      summary+=("$(printf '%-18s %d of %d reproducers fail, see %s' "$fuzzer" ${#broken[@]} \
        ${#regressions[@]} "$log.regressions")")
      continue
    fi
  fi

  echo "== $fuzzer: fuzzing for $seconds s"
  status=0
  "$binary" "${options[@]}" -max_total_time="$seconds" -artifact_prefix="$artifacts/" \
    "$corpus" "$build/fuzz/seeds/$fuzzer" >"$log" 2>&1 || status=$?
  executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  coverage="$(grep -E '^#[0-9]+.* cov: ' "$log" | tail -n 1 | sed -E 's/^.*(cov: .*)$/\1/' || true)"
  line="$(printf '%-18s executions %-10s %s' "$fuzzer" "${executions:-?}" "${coverage:-no coverage line}")"
  if [ "$status" -ne 0 ]; then
    echo "-- $fuzzer failed (exit $status); the end of $log:"
    tail -n 80 "$log"
    failed+=("$fuzzer")
    line="$line  FAILED (exit $status, artifacts in $artifacts)"
  fi
  summary+=("$line")
done

echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzers failed: ${failed[*]}" >&2
  exit 1
fi
