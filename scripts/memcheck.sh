#!/usr/bin/env bash
# Runs test binaries under Valgrind's memcheck, following every program they
# start (the viewer, the importer, the converter), and fails on any error or
# definite leak that scripts/valgrind.supp does not explain. The sanitizer
# suites leave out what loads Mesa, whose own reports there hide ours; this
# covers it. Usage: memcheck.sh [viewer|all|TEST_BINARY...] (default: viewer)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${RIGWEAVE_MEMCHECK_BUILD:-$root/build}"
"$root/scripts/build.sh" "$build" >/dev/null

viewer=(test_gl_backend test_view_images test_view_characters test_view_window test_raw_convert
        test_import)
case "${1:-viewer}" in
  viewer) binaries=("${viewer[@]}") ;;
  all) mapfile -t binaries < <(cd "$build/bin" && ls test_* | sort) ;;
  *) binaries=("$@") ;;
esac

logs="$build/memcheck"
rm -rf "$logs"
mkdir -p "$logs"
# Every process is followed, so that the programs a test starts through a
# shell (or xvfb-run) run under memcheck too; only reports from processes
# of ours count: the shell and the tools between are not ours to fix.
options=(--trace-children=yes --trace-children-skip='*/Xvfb,*/xauth' --leak-check=full
         --errors-for-leak-kinds=definite --keep-debuginfo=yes --num-callers=40
         --suppressions="$root/scripts/valgrind.supp")
failed=()
for binary in "${binaries[@]}"; do
  start=$SECONDS
  status=0
  # Tests run from the build folder, as under ctest.
  (cd "$build" && valgrind "${options[@]}" --log-file="$logs/$binary.%p.log" \
     "bin/$binary" >"$logs/$binary.out" 2>&1) || status=$?
  errors=0
  for log in "$logs/$binary".*.log; do
    grep -q "^==[0-9]*== Command: \(bin/\|$build/bin/\)" "$log" || continue
    if grep -q 'ERROR SUMMARY: [1-9]' "$log"; then
      errors=$((errors + 1))
      echo "-- $(basename "$log"): $(grep -m 1 'Command:' "$log" | sed 's/^==[0-9]*== //')"
    fi
  done
  printf '%-24s %4d s  exit %d  processes with errors: %s\n' "$binary" $((SECONDS - start)) \
    "$status" "$errors"
  if [ "$status" -ne 0 ] || [ "$errors" -ne 0 ]; then failed+=("$binary"); fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "memcheck failed: ${failed[*]} (logs in $logs)" >&2
  exit 1
fi
echo "memcheck passed: ${binaries[*]}"
