#!/usr/bin/env bash
# Builds everything and runs every test (unit, end-to-end and acceptance).
# Installs the few Debian packages the build and tests need when missing.
set -euo pipefail
cd "$(dirname "$0")"

need=()
for pkg in cmake g++ make python3 time googletest libgtest-dev libbenchmark-dev libdouble-conversion-dev chromium; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if ((${#need[@]})); then
  echo "installing: ${need[*]}"
  apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null
fi

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
