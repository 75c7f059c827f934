#!/bin/sh
# Times the despiking program on a generated 7,000,000-sample series (3 passes).
# Usage: bench/scrubber_run.sh PATH/TO/scrubber [FOLDER]
# The series ends exactly at the sample limit, so the run pauses once; an
# empty line on standard input lets it go on.
set -e
program=$(realpath "$1")
folder=${2:-/tmp/scrubber_bench}
here=$(dirname "$(realpath "$0")")
[ -f "$folder/raw.dat" ] || python3 "$here/scrubber_generate.py" "$folder" 7000000
cd "$folder"
echo "" | /usr/bin/time -v "$program" > stdout.txt 2> time.txt
cat stdout.txt
grep -E "Elapsed|Maximum resident" time.txt
