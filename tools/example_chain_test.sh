#!/usr/bin/env bash
# CTest: the example chain on a two-hour series must recover the planted
# flux, lag, spikes and gap violations within the summary's tolerances; and
# the summary must reject a results table whose shifts or fluxes are wrong,
# so that the check itself can fail.
#   example_chain_test.sh GENERATOR SCRUBBER TAVRIN FOLDER
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
folder=$4

"$here/run_example_chain.sh" "$1" "$2" "$3" "$folder" --hours 2 --interval 300 --seed 7 \
    --spike-rate 6 --gap-rate 3 --long-gap-rate 12
status=$?
if [ $status -ne 0 ]; then
    echo "example chain missed its tolerances (status $status); files kept in $folder" >&2
    exit 1
fi

cd "$folder"
summary() { python3 "$here/example_summary.py" truth.txt scrubber.log WARNING_LOG.DAT "$1" > /dev/null; }
# Every best shift set to zero, then every running-mean flux halved: both must be caught.
python3 - <<'PY'
rows = open("results.dat", newline="").read().split("\r\n")
zero_shift = [rows[0]] + [r[:146] + " 0.00" + r[151:] if r else r for r in rows[1:]]
open("zero_shift.dat", "w", newline="").write("\r\n".join(zero_shift))
def halve(r):
    v = float(r[110:118]) / 2
    return r[:110] + f"{v:8.2f}" + r[118:]
half_flux = [rows[0]] + [halve(r) if r else r for r in rows[1:]]
open("half_flux.dat", "w", newline="").write("\r\n".join(half_flux))
PY
for bad in zero_shift.dat half_flux.dat; do
    if summary "$bad"; then
        echo "the summary accepted the tampered table $bad" >&2
        exit 1
    fi
done
cd / && rm -rf "$folder"
echo "example chain within tolerance"
