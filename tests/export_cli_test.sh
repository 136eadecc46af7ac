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

# The folder's own files are never overwritten, however the path is spelt: refused with
# exit 2, a word on stderr, and every file as it was.
printf 'quorvel\t1\tuser\t5\t0\t0\r\n' >user.dat
printf 'x\r\n' >user.ldg
mkdir -p backup journal conflicts sub
printf 'j\r\n' >journal/pc1.jnl
ln -s test.log to-log
ln -s test.mrk to-marks  # a link to a file the program has not made yet
ln test.dat hard-book
snapshot() { find . \( -path ./err.txt -o -path ./elsewhere \) -prune -o -type f -print | sort | xargs cksum; }
before=$(snapshot)
for target in test.log user.dat test.dat user.ldg intent.dat test.rsn test.trs test.mrk \
              ./test.log sub/../test.log "$PWD/test.log" "$PWD//sub/../user.dat" to-log \
              to-marks hard-book journal/pc1.jnl journal/new.csv backup/x.csv conflicts/x.csv .; do
  status=0
  run --export-csv "$target" 2>err.txt || status=$?
  [ "$status" -eq 2 ] || { echo "exported over $target ($status)"; exit 1; }
  grep -q '上書きすると記録が失われる' err.txt || { echo "no word for $target"; exit 1; }
done
[ "$(snapshot)" = "$before" ] || { echo "a file of the folder changed"; exit 1; }
[ ! -e test.mrk ] && [ ! -e journal/new.csv ] && [ ! -e backup/x.csv ]

# Relative names are where the command was typed, not inside the data folder; the folder's
# files named from outside are refused too.
mkdir elsewhere
(cd elsewhere && run .. --export-csv typed-here.csv 2>/dev/null)
cmp elsewhere/typed-here.csv "$data/all-cp932.csv"
[ ! -e typed-here.csv ]
status=0
(cd elsewhere && run .. --export-csv ../test.log 2>err.txt) || status=$?
[ "$status" -eq 2 ]
[ "$(snapshot)" = "$before" ] || { echo "a file of the folder changed"; exit 1; }

# A folder without a rule book: the terminal is told at once, before the box waits for OK.
mkdir nobook
status=0
(cd nobook && timeout 5 env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$dir" "$bin" 2>../err.txt) ||
  status=$?
grep -q 'データファイルが見つかりませんでした。' err.txt || { echo "stderr: $(cat err.txt)"; exit 1; }

# Without --export-csv and without a display, the program still says so and stops.
status=0
run 2>err.txt || status=$?
[ "$status" -eq 2 ]
echo ok
