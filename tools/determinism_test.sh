#!/usr/bin/env bash
# CTest: one seed gives the same bytes twice; another seed gives another series.
#   determinism_test.sh GENERATOR FOLDER
set -euo pipefail
generator=$1; folder=$2
rm -rf "$folder"; mkdir -p "$folder/a" "$folder/b" "$folder/c"
run() { (cd "$1" && "$generator" --hours 0.1 --seed "$2" --spike-rate 20 --gap-rate 20 --long-gap-rate 60 --truth truth.txt); }
run "$folder/a" 5; run "$folder/b" 5; run "$folder/c" 6
for f in raw.dat ConfigTAVRIN.Dat truth.txt; do cmp "$folder/a/$f" "$folder/b/$f"; done
if cmp -s "$folder/a/raw.dat" "$folder/c/raw.dat"; then
    echo "seeds 5 and 6 gave the same series" >&2; exit 1
fi
# 0.1 h at 64 Hz: 23,040 samples and a heading, times rising by one sample step.
lines=$(wc -l < "$folder/a/raw.dat")
[ "$lines" -eq 23041 ] || { echo "raw.dat holds $lines lines" >&2; exit 1; }
awk 'NR > 1 { if (NR > 2 && ($1 - t) * 3600 * 64 < 0.99) bad++; t = $1; if (NF != 8) bad++ } END { exit bad > 0 }' \
    "$folder/a/raw.dat"
rm -rf "$folder"
