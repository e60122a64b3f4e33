#!/usr/bin/env bash
# Builds the fuzz targets into build-fuzz (clang, libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for SECONDS from its seed corpus in
# tests/fuzz/corpus/<target>. Prints per target the inputs run and any finding;
# exits non-zero when a target found something.
#
#   tests/fuzz/run.sh [SECONDS] [TARGET...]     (default 60 s, all targets)
#
# VOREL_FUZZ_BUILD_DIR chooses the build folder, VOREL_FUZZ_JOBS the build's
# parallelism (2). Findings go to build-fuzz/findings/<target>/, the corpus
# grown by a run to build-fuzz/corpus/<target>/, the full logs to
# build-fuzz/logs/<target>.log. Replay a finding with
#   build-fuzz/fuzz/fuzz_<target> build-fuzz/findings/<target>/<file>
set -euo pipefail

seconds=${1:-60}
[ $# -gt 0 ] && shift
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${VOREL_FUZZ_BUILD_DIR:-$src/build-fuzz}
all_targets=(client_frames server_requests dialect dialectdiff errorderive fileversion bmp)
targets=("${@:-${all_targets[@]}}")

# What the fuzz build needs beyond the usual build: clang and its libFuzzer
# and sanitizer runtimes; the server's client libraries for dialectdiff.
fuzz_packages=(clang libclang-rt-14-dev cmake ninja-build ccache pkg-config qt6-base-dev qt6-base-private-dev libgl-dev
  libsqlite3-dev libpq-dev libssl-dev)
source "$src/cmake/packages.sh"
vorel_install_packages "${fuzz_packages[@]}"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVOREL_FUZZ=ON
fi
build_targets=()
for t in "${targets[@]}"; do build_targets+=("fuzz_$t"); done
cmake --build "$build" -j "${VOREL_FUZZ_JOBS:-2}" --target "${build_targets[@]}"

mkdir -p "$build/logs"
# The file targets write every input to a file: in memory when we can.
if [ -z "${VOREL_FUZZ_TMP:-}" ]; then
  VOREL_FUZZ_TMP="$build/tmp"
  [ -d /dev/shm ] && [ -w /dev/shm ] && VOREL_FUZZ_TMP=/dev/shm/vorel-fuzz-$$
fi
mkdir -p "$VOREL_FUZZ_TMP"
export VOREL_FUZZ_TMP
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_stack_use_after_return=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

found=0
printf '%-16s %12s %10s  %s\n' target execs exec/s result
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  log="$build/logs/$t.log"
  mkdir -p "$corpus" "$findings"
  before=$(find "$findings" -type f | wc -l)
  extra=()
  case "$t" in
    fileversion) extra+=(-max_len=16384) ;;
    bmp) extra+=(-max_len=8192) ;;
  esac
  set +e
  "$build/fuzz/fuzz_$t" "$corpus" "$src/tests/fuzz/corpus/$t" \
    -max_total_time="$seconds" -timeout="${VOREL_FUZZ_TIMEOUT:-25}" -rss_limit_mb=2048 -malloc_limit_mb=64 \
    -print_final_stats=1 -artifact_prefix="$findings/" "${extra[@]}" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  after=$(find "$findings" -type f | wc -l)
  if [ "$rc" -ne 0 ] || [ "$after" -gt "$before" ]; then
    found=1
    what=$(grep -m1 -E '^(SUMMARY|==[0-9]+==ERROR|fuzz check failed|.*runtime error)' "$log" || true)
    printf '%-16s %12s %10s  FINDING (exit %s) %s\n' "$t" "${execs:-?}" "${rate:-?}" "$rc" "$what"
    grep -E "Test unit written to" "$log" | sed 's/^.*written to /    input: /' || true
    echo "    log: $log"
  else
    printf '%-16s %12s %10s  ok\n' "$t" "${execs:-?}" "${rate:-?}"
  fi
done
[ "$VOREL_FUZZ_TMP" = "/dev/shm/vorel-fuzz-$$" ] && rm -rf "$VOREL_FUZZ_TMP"
exit $found
