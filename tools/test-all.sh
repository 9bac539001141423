#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
#   native       pure logic, GoogleTest
#   native-asan  the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   fuzz         libFuzzer harnesses, each for LUMARO_FUZZ_SECONDS (default 30)
#   bench        benchmarks, built only (run them by hand, see README)
#   win64        mingw-w64 x86_64, tests under Wine on a virtual display
#   win32        mingw-w64 i686, compiled, import check only (never run here)
# Ends with one summary line: "tests: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$(date +%s)
"$root/tools/install-deps.sh" || { echo "tests: 0 passed, 1 failed"; exit 1; }

passed=0
failed=0
log_dir=$root/build/test-logs
mkdir -p "$log_dir"

# Adds the counts of a ctest log to the totals.
count_ctest() {
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then
    echo "  (no ctest summary in $1)"
    failed=$((failed + 1))
    return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

build() {  # preset
  echo "== build $1"
  cmake --preset "$1" >"$log_dir/$1-configure.log" 2>&1 &&
    cmake --build "build/$1" -j2 >"$log_dir/$1-build.log" 2>&1 ||
    { echo "  build of $1 failed, see $log_dir/$1-*.log"; tail -n 30 "$log_dir/$1-build.log" "$log_dir/$1-configure.log" 2>/dev/null; failed=$((failed + 1)); return 1; }
}

run_ctest() {  # preset [extra ctest args]
  local preset=$1; shift
  echo "== test $preset"
  ctest --test-dir "build/$preset" --output-on-failure -j2 "$@" >"$log_dir/$preset-test.log" 2>&1
  grep -E '(\*\*\*|tests passed)' "$log_dir/$preset-test.log" | tail -n 15
  count_ctest "$log_dir/$preset-test.log"
}

build native && run_ctest native
build native-asan && ASAN_OPTIONS=detect_leaks=1 run_ctest native-asan

if build fuzz; then
  seconds=${LUMARO_FUZZ_SECONDS:-30}
  for harness in build/fuzz/lumaro-common/fuzz/fuzz_*; do
    name=$(basename "$harness")
    corpus=$root/build/fuzz/corpus-$name
    mkdir -p "$corpus"
    seeds=$root/lumaro-common/fuzz/corpus/${name#fuzz_}
    echo "== fuzz $name for ${seconds}s"
    if "$harness" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=700000 -timeout=10 \
         "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) >"$log_dir/$name.log" 2>&1; then
      passed=$((passed + 1))
      grep -E '^#[0-9]+.*DONE' "$log_dir/$name.log" | tail -n 1
    else
      failed=$((failed + 1))
      tail -n 40 "$log_dir/$name.log"
    fi
  done
fi

build bench

source "$root/tools/wine-env.sh"
if build win64; then
  wine_env_start "$root/build/wineprefix-test"
  run_ctest win64 -j1
  wine_env_stop
fi
build win32 && run_ctest win32

echo "test run took $(( $(date +%s) - start )) s"
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
