#!/usr/bin/env bash
# Builds the project with its tests (no viewer) under AddressSanitizer with
# UndefinedBehaviorSanitizer, then under LeakSanitizer alone, each in a build
# folder of its own, and runs the test suite in each; then, under
# ThreadSanitizer, the tests that draw and load on several threads at once.
# Exits non-zero if a build or a test fails.
# Usage: sanitize.sh [address,undefined|leak|thread]...
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh" --if-root

# The leak check's own thread read a stale entry of the dynamic TLS that the
# module, loaded and unloaded by the engine, leaves in GCC 12's runtime, and
# crashed at exit ("Tracer caught signal 11") in some runs; without tracking
# __tls_get_addr it scans static TLS and the threads' stacks only, and the
# module's thread-local values hold nothing on the heap at exit.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=print_suppressions=0
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp"

suites=("$@")
[ ${#suites[@]} -gt 0 ] || suites=(address,undefined leak thread)

# The thread suite builds and runs only the tests with threads in them.
targets_of() { [ "$1" = thread ] && echo "--target test_threads test_sharing"; true; }
tests_of() { [ "$1" = thread ] && echo "-R ^(Threads|Sharing)"; true; }

failed=()
for sanitizers in "${suites[@]}"; do
  build="$root/build-sanitize-${sanitizers//,/-}"
  echo "== $sanitizers: building in $build"
  if ! cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      ${RIGWEAVE_WERROR:+"-DRIGWEAVE_WERROR=$RIGWEAVE_WERROR"} -DRIGWEAVE_TESTS=ON \
      -DRIGWEAVE_VIEWER=OFF "-DRIGWEAVE_SANITIZE=$sanitizers" >/dev/null ||
     ! cmake --build "$build" -j"$(nproc)" $(targets_of "$sanitizers"); then
    failed+=("$sanitizers (build)")
    continue
  fi
  echo "== $sanitizers: running the tests"
  if ! (cd "$build" && ctest --output-on-failure -j"$(nproc)" $(tests_of "$sanitizers")); then
    failed+=("$sanitizers (tests)")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "sanitizer suites failed: ${failed[*]}" >&2
  exit 1
fi
echo "sanitizer suites passed: ${suites[*]}"
