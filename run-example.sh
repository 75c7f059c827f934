#!/usr/bin/env bash
# First run: builds everything, writes a few hours of synthetic 64 Hz data
# from example/example_series.options into scratch/example, cleans it with
# scrubber, computes the fluxes with TAVRIN and prints the results table and
# a summary of what was recovered against what was planted, then writes
# the quick-look report (flux_report.html) of the run and prints its path.
#   ./run-example.sh [more make_example_series options, e.g. --flux -35 --lag 0.25]
# JOBS sets the build parallelism (default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
cd "$root"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"${JOBS:-2}"

# shellcheck disable=SC2046  # one word per option value is intended
status=0
tools/run_example_chain.sh build/tools/make_example_series build/scrubber/scrubber build/tavrin/TAVRIN \
    scratch/example $(sed -e 's/#.*//' example/example_series.options) "$@" || status=$?

# The quick-look pictures of the same run; prints the report's path.
echo
echo "report:"
(cd scratch/example && ../../build/flux_report/flux_report) || status=$?
exit "$status"
