#!/bin/sh
# Runs check.py over the scrubber acceptance cases, leaving out the cases of
# the skip file. Exit 77 (reported as skipped) when the cases are not here.
# Usage: run_acceptance.sh PROGRAM ACCEPTANCE_DIR SKIP_FILE
program=$1 cases=$2 skip=$3
if [ ! -f "$cases/check.py" ] || [ ! -d "$cases/scrubber" ]; then
  echo "acceptance cases not found at $cases: test skipped"
  exit 77
fi
if [ -f "$skip" ]; then
  exec python3 "$cases/check.py" "$program" "$cases/scrubber" --skip-file "$skip"
fi
exec python3 "$cases/check.py" "$program" "$cases/scrubber"
