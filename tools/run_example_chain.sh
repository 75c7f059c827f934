#!/usr/bin/env bash
# Runs the example chain in a fresh folder: generate a raw series, clean it
# with scrubber, compute fluxes with TAVRIN on the cleaned file, print the
# results table and the summary. Exit status 1 when the summary misses a
# tolerance, 2 on a failing step.
#   run_example_chain.sh GENERATOR SCRUBBER TAVRIN FOLDER [generator options...]
set -euo pipefail
if [ $# -lt 4 ]; then
    echo "usage: $0 GENERATOR SCRUBBER TAVRIN FOLDER [generator options...]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
generator=$(realpath "$1"); scrubber=$(realpath "$2"); tavrin=$(realpath "$3"); folder=$4
shift 4

rm -rf "$folder"
mkdir -p "$folder"
cd "$folder"

step() {  # name, command...: run a step, keep its console, stop on failure
    local name=$1; shift
    if ! "$@"; then
        echo "$name failed (exit status $?); its console is in $PWD" >&2
        exit 2
    fi
}

step make_example_series "$generator" --out raw.dat --config ConfigTAVRIN.Dat --truth truth.txt \
    --clean-name clean.dat --results-name results.dat "$@"
# scrubber pauses for a line at its sample limit: an empty line lets it go on.
step scrubber sh -c 'echo | "$1" > scrubber.log' sh "$scrubber"
step TAVRIN sh -c '"$1" > tavrin.log' sh "$tavrin"

echo "scrubber:"
cat scrubber.log
echo
echo "results.dat:"
cat results.dat
set +e
python3 "$here/example_summary.py" truth.txt scrubber.log WARNING_LOG.DAT results.dat
