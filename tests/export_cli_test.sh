#!/bin/sh
# The program's CSV export run as a script would: in a data folder, with no display at all.
set -eu
bin=$1
data=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$data/test.dat" "$data/test.log" "$dir/"
cd "$dir"
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TZ=Asia/Tokyo "$bin" "$@"; }

run --export-csv out.csv 2>err.txt
cmp out.csv "$data/all-cp932.csv"
grep -q 'test.log' err.txt  # the damaged lines are told, the export still succeeds

# Names that a spreadsheet would run as formulas go out as text; numbers stay numbers.
mkdir formulas
cp "$data/../formulas/test.dat" "$data/../formulas/test.log" formulas/
(cd formulas && run --export-csv out.csv)
cmp formulas/out.csv "$data/../formulas/expected.csv"

status=0
run --export-csv missing/out.csv 2>err.txt || status=$?
[ "$status" -eq 1 ]
grep -q 'CSV' err.txt

status=0
run --export-csv out.csv --from 2024/13/01 2>err.txt || status=$?
[ "$status" -eq 2 ]

# Without --export-csv and without a display, the program still says so and stops.
status=0
run 2>err.txt || status=$?
[ "$status" -eq 2 ]
echo ok
