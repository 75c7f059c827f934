#!/usr/bin/env bash
# Builds the fuzz targets and runs each one for an equal share of SECONDS.
# Fails on any crash, sanitizer report, hang or differential mismatch; the
# inputs that failed are kept under <build>/fuzz-findings/.
#   usage: fuzz/run_fuzzers.sh [SECONDS]     (default 60, all targets together)
#   FUZZ_BUILD_DIR  build folder (default <checkout>/build-fuzz)
#   FUZZ_JOBS       parallel build jobs (default 1)
set -euo pipefail

budget=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}

need=()
command -v clang++ >/dev/null 2>&1 || need+=(clang)
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null || need+=(libclang-rt-14-dev)
[ -e /usr/include/double-conversion/double-conversion.h ] || need+=(libdouble-conversion-dev)
if ((${#need[@]})); then
  echo "installing ${need[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DFLUX_FUZZ=ON -DFLUX_BUILD_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target fuzz_targets -j"${FUZZ_JOBS:-1}" >/dev/null

targets=(fuzz_free_reader fuzz_fixed_fields fuzz_render_fixed fuzz_tavrin_run)
[ -x "$build/fuzz/fuzz_scrubber_run" ] && targets+=(fuzz_scrubber_run)
share=$((budget / ${#targets[@]}))
((share >= 1)) || share=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings=$build/fuzz-findings
failed=()
for t in "${targets[@]}"; do
  mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
  # New units go to the scratch corpus (first folder); the shipped seeds and
  # regression inputs are read from the second and never changed.
  set +e
  "$build/fuzz/$t" -max_total_time="$share" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$work/$t/artifacts/" "$work/$t/corpus" "$here/corpus/$t" >"$work/$t/log" 2>&1
  rc=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t/log")
  if ((rc != 0)) || compgen -G "$work/$t/artifacts/*" >/dev/null; then
    failed+=("$t")
    mkdir -p "$findings/$t"
    cp "$work/$t/artifacts/"* "$findings/$t/" 2>/dev/null || true
    cp "$work/$t/log" "$findings/$t/log"
    echo "FAIL $t (exit $rc) after ${runs:-?} runs; inputs and log in $findings/$t"
    grep -E 'ERROR|SUMMARY|harness|abort|got|want' "$work/$t/log" | head -20 || true
  else
    echo "ok   $t: ${runs:-?} runs in ${share}s"
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing failed: ${failed[*]}"
  exit 1
fi
