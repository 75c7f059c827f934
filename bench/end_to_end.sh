#!/usr/bin/env bash
# End-to-end timing of both programs on full-size series.
#
# Generates once, cached in scratch/bench: one day at 64 Hz (5,529,600 samples)
# and a 7,000,000-sample series (the despiking program's limit, where it warns
# and waits for a line: an empty line lets it go on). Times scrubber (3 passes)
# and then TAVRIN (900 s intervals, 2 s window) on scrubber's cleaned file with
# /usr/bin/time -v, and prints wall time, CPU time, peak resident memory and
# output bytes per run, with the floor: reading the same input bytes with cat
# and writing the same output bytes with dd.
#   bench/end_to_end.sh            BUILD=<folder> picks the build (default build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
cache=$root/scratch/bench

if [ ! -x /usr/bin/time ]; then
    echo "end_to_end.sh needs /usr/bin/time (Debian package 'time')" >&2
    exit 2
fi
generator=$build/tools/make_example_series
scrubber=$build/scrubber/scrubber
tavrin=$build/tavrin/TAVRIN
for exe in "$generator" "$scrubber" "$tavrin"; do
    if [ ! -x "$exe" ]; then
        echo "$exe is missing: build it first (cmake --build $build --target make_example_series scrubber TAVRIN)" >&2
        exit 2
    fi
done

# Generates a series into its folder unless the cached one was made with the same options.
prepare() {  # folder, generator options...
    local folder=$1; shift
    local stamp="$*"
    mkdir -p "$folder"
    if [ -f "$folder/raw.dat" ] && [ -f "$folder/ConfigTAVRIN.Dat" ] && [ "$(cat "$folder/stamp" 2>/dev/null)" = "$stamp" ]; then
        return
    fi
    rm -f "$folder/stamp"
    local start=$SECONDS
    (cd "$folder" && "$generator" --out raw.dat --config ConfigTAVRIN.Dat --clean-name clean.dat \
        --results-name results.dat --interval 900 --window 2 "$@")
    echo "$stamp" > "$folder/stamp"
    echo "generated $folder/raw.dat ($(stat -c %s "$folder/raw.dat") bytes) in $((SECONDS - start)) s" >&2
}

bytes() { local total=0 f; for f in "$@"; do [ -f "$f" ] && total=$((total + $(stat -c %s "$f"))); done; echo $total; }

# Value of one /usr/bin/time -v line.
timed_value() { sed -n "s/^[[:space:]]*$2: //p" "$1"; }

# Wall clock "h:mm:ss" or "m:ss.ss" to seconds.
wall_seconds() { awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.2f", s }' <<< "$1"; }

# Seconds of one command, by /usr/bin/time.
seconds_of() { /usr/bin/time -f %e -o "$cache/floor.time" "$@" > /dev/null; cat "$cache/floor.time"; }

rows=()
run() {  # label, folder, input file, program, output files...
    local label=$1 folder=$2 input=$3 program=$4; shift 4
    local outputs=("$@")
    (cd "$folder" && rm -f "${outputs[@]}")
    # The despiking program waits for a line at its sample limit; the empty line lets it go on.
    if ! (cd "$folder" && echo | /usr/bin/time -v -o "$cache/run.time" "$program" > "$cache/run.console"); then
        echo "$label failed; console in $cache/run.console" >&2
        exit 1
    fi
    local wall cpu rss out in_bytes cat_s dd_s
    wall=$(wall_seconds "$(timed_value "$cache/run.time" 'Elapsed (wall clock) time (h:mm:ss or m:ss)')")
    cpu=$(awk -v u="$(timed_value "$cache/run.time" 'User time (seconds)')" \
              -v s="$(timed_value "$cache/run.time" 'System time (seconds)')" 'BEGIN { printf "%.2f", u + s }')
    rss=$(timed_value "$cache/run.time" 'Maximum resident set size (kbytes)')
    out=$(cd "$folder" && bytes "${outputs[@]}")
    in_bytes=$(bytes "$folder/$input")
    cat_s=$(seconds_of cat "$folder/$input")
    dd_s=$(seconds_of dd if=/dev/zero of="$cache/floor.out" bs=1M count="$out" iflag=count_bytes status=none)
    rm -f "$cache/floor.out"
    rows+=("$(printf '%-28s %9.1f %7s %7s %9.1f %9.1f %9s %8s' "$label" "$(awk -v b="$in_bytes" 'BEGIN{print b/1e6}')" \
        "$wall" "$cpu" "$(awk -v k="$rss" 'BEGIN{print k/1024}')" "$(awk -v b="$out" 'BEGIN{print b/1e6}')" "$cat_s" "$dd_s")")
}

start=$SECONDS
mkdir -p "$cache"
prepare "$cache/day" --rate 64 --hours 24 --seed 11
prepare "$cache/limit" --rate 64 --samples 7000000 --seed 12

cumulative=(results.dat Cospectra.out cumflux.out cumfluxSHIFT.out)
run "scrubber, 1 day 64 Hz"       "$cache/day"   raw.dat   "$scrubber" clean.dat WARNING_LOG.DAT
run "TAVRIN, 1 day 64 Hz"         "$cache/day"   clean.dat "$tavrin"   "${cumulative[@]}"
run "scrubber, 7,000,000 samples" "$cache/limit" raw.dat   "$scrubber" clean.dat WARNING_LOG.DAT
run "TAVRIN, 7,000,000 samples"   "$cache/limit" clean.dat "$tavrin"   "${cumulative[@]}"

echo
printf '%-28s %9s %7s %7s %9s %9s %9s %8s\n' "run" "input MB" "wall s" "CPU s" "peak MB" "output MB" "cat in s" "dd out s"
printf '%s\n' "${rows[@]}"
echo
echo "scrubber: 3 despiking passes; TAVRIN: 900 s intervals, 2 s running window."
echo "cat in: reading the program's input bytes (page cache warm); dd out: writing its output bytes."
echo "total $((SECONDS - start)) s"
