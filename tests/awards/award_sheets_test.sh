#!/usr/bin/env bash
# Converts a report with --awards as a user would, in a fresh folder, and
# checks the exit status, the lines after the banner, that the report is
# left as it was, the award sheets against award_check.py's own tally, and
# each sheet's widths by xlsx_check.py.
# Usage: award_sheets_test.sh PROGRAM PYTHON CHECK DATA REPORT WORK LINES...
# LINES are the lines expected on standard error after the banner, the
# report's name being report.adi. Exits
# with 77, so that the test is skipped, where the report is missing, or
# openpyxl is and nothing else has failed.
set -u
program=$(realpath "$1") python=$2 check=$3 data=$4 report=$5 work=$6
shift 6
if [ ! -f "$report" ]; then
  echo "skipped: no report at $report"
  exit 77
fi
rm -rf "$work" && mkdir -p "$work" || exit 1
cp "$report" "$work/report.adi" || exit 1
(cd "$work" && "$program" --awards report.adi 2>stderr.txt)
status=$?
failed=0
if [ "$status" -ne 0 ]; then
  echo "status $status, expected 0"
  failed=1
fi
# The banner is the first three lines and a blank one.
expected=$(printf '%s\n' "$@")
found=$(tail -n +5 "$work/stderr.txt")
if [ "$found" != "$expected" ]; then
  printf 'standard error after the banner:\n%s\nexpected:\n%s\n' "$found" "$expected"
  failed=1
fi
if ! cmp -s "$report" "$work/report.adi"; then
  echo "the report was changed"
  failed=1
fi
if [ "$(ls -A "$work" | sort | tr '\n' ' ')" != "report.adi report.xlsx stderr.txt " ]; then
  echo "files left: $(ls -A "$work")"
  failed=1
fi
"$python" "$check" "$work/report.adi" "$work/report.xlsx" "$data"
checked=$?
# Every sheet's columns as wide as its values need, as the QSOs' are.
if [ "$checked" -ne 77 ]; then
  widths=$("$python" "$(dirname "$check")/../rows/xlsx_check.py" "$work/report.xlsx" |
    grep '^sheet ' | grep -v ' widths fit$')
  if [ -n "$widths" ]; then
    printf 'columns not as wide as their values:\n%s\n' "$widths"
    failed=1
  fi
fi
# Without openpyxl the case is skipped, unless it has failed already.
[ "$checked" -eq 77 ] && [ "$failed" -eq 0 ] && exit 77
[ "$checked" -ne 0 ] && failed=1
exit "$failed"
