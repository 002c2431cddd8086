#!/usr/bin/env bash
# Starts the Windows program as Explorer does, in a console window of its
# own on a virtual X display, and works it with keys as its user would:
# a report dropped on it, two reports, a download with QSL details answered
# with S and with Enter alone, and a double-click; then from cmd /c, where
# it must neither wait nor ask. Each window is saved as a PNG in the work
# folder. Where no display can be made, it says SKIPPED and why, and exits
# 77, which ctest shows as skipped.
#
#   console_window_test.sh PROGRAM WINE_LOADER WINE_ARCH EXAMPLES WORK
set -uo pipefail
program=$(realpath "$1") loader=$2 arch=$3 examples=$(realpath "$4")
work=$(realpath -m "$5")  # wine takes only a full name for its prefix

skip() { echo "SKIPPED: the console window test, since $*"; exit 77; }
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null ||
    skip "$tool is missing (Debian: apt-get install xvfb xdotool imagemagick)"
done

rm -rf "$work"
mkdir -p "$work"
# A wine prefix of the test's own, so that ending its wine processes at the
# end, or at a timeout, touches no other test's.
export WINEDEBUG=-all WINEARCH=$arch WINEPREFIX=$work/wine WINELOADER=$loader
xvfb=
cleanup() {
  "$(dirname "$loader")/wineserver" -k 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Xvfb takes the first free display and writes its number once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" \
  2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || skip "Xvfb could not make a display: $(tail -n 1 "$work/xvfb.log")"
  sleep 0.2
done
[ -s "$work/display" ] || skip "Xvfb made no display within 20 seconds"
export DISPLAY=:$(cat "$work/display")
timeout 300 "$loader" wineboot -i >/dev/null 2>&1

ham=$WINEPREFIX/drive_c/Ham
case_name=
fail() {
  echo "FAILED: $case_name: $*"
  import -window root "$work/failed.png" 2>/dev/null
  exit 1
}

# Gives the CSV rows their Windows line ends.
crlf() { sed 's/$/\r/'; }
header='CALL,BAND,MODE,QSO_DATE,TIME_ON,QSL_RCVD,QSLRDATE,DXCC,PFX,CQZ,ITUZ,IOTA,GRIDSQUARE,STATE,CNTY'
detailed='ARRL Logbook of the World Status Report
<PROGRAMID:4>LoTW
<eoh>
<APP_LoTW_OWNCALL:6>N0CALL
<MY_DXCC:3>291
<CALL:5>Q1AAA
<BAND:3>20M
<eor>
<APP_LoTW_EOF>'
printf '%s\n' "$header" | crlf >"$work/header-only.csv"
printf '%s\nQ1AAA,20M,,,,,,,,,,,,,\n' "$header" | crlf >"$work/detailed.csv"
crlf <"$examples/lotwreport.csv" >"$work/example.csv"

# A fresh C:\Ham\LoTW with the reports named, and the program in C:\Ham.
fresh_case() {
  case_name=$1
  shift
  rm -rf "$ham" "$work/status"
  mkdir -p "$ham/LoTW"
  cp "$program" "$ham/qsoflat.exe"
  for report in "$@"; do
    case $report in
      d.adi) printf '%s\n' "$detailed" >"$ham/LoTW/$report" ;;
      *) cp "$examples/lotwreport.adi" "$ham/LoTW/$report" ;;
    esac
  done
  echo "--- $case_name"
}

# Starts a program with start /wait, which gives it a console window of its
# own as Explorer does; its exit status lands in the work folder.
start_program() {
  ( "$loader" start /wait "$@" >/dev/null 2>&1; echo $? >"$work/status" ) &
}

# The program's window, polled for up to two minutes.
window=
find_window() {
  window=
  for _ in $(seq 240); do
    window=$(xdotool search --name 'qsoflat\.exe' 2>/dev/null | head -n 1)
    [ -n "$window" ] && return
    [ -e "$work/status" ] && fail "ended with status $(cat "$work/status") before its window was seen"
    sleep 0.5
  done
  fail "no window within two minutes"
}

# Waits up to two minutes for the file to hold the expected bytes.
wait_for_file() {
  for _ in $(seq 240); do
    cmp -s "$1" "$2" && return
    sleep 0.5
  done
  fail "$1 does not hold $2: $(od -c "$1" 2>&1 | head -n 5)"
}

# The program must still be there, waiting for its user, a while after its
# work is done; the window is then saved as it shows.
check_waiting() {
  sleep 3
  [ -e "$work/status" ] && fail "ended with status $(cat "$work/status") without waiting"
  import -window root "$work/$1.png" || fail "no screenshot"
}

press() { xdotool key --window "$window" "$@" 2>/dev/null; }

# Waits up to two minutes for the program to end, with the status given.
check_status() {
  for _ in $(seq 240); do
    [ -e "$work/status" ] && break
    sleep 0.5
  done
  [ -e "$work/status" ] || fail "still running two minutes after the last key"
  [ "$(cat "$work/status")" = "$1" ] || fail "status $(cat "$work/status"), not $1"
  # The window goes with the program, before the next case looks for one.
  for _ in $(seq 60); do
    xdotool search --name 'qsoflat\.exe' >/dev/null 2>&1 || return
    sleep 0.5
  done
  fail "the window stayed open after the program ended"
}

fresh_case "a dropped report converts, and the window waits for Enter" lotwreport.adi
start_program 'C:\Ham\qsoflat.exe' 'C:\Ham\LoTW\lotwreport.adi'
find_window
wait_for_file "$ham/LoTW/lotwreport.csv" "$work/example.csv"
check_waiting dropped-report
press Return
check_status 0
cmp -s "$ham/LoTW/lotwreport.adi" "$examples/lotwreport.adi" || fail "the report changed"

fresh_case "two dropped reports give two CSV files" a.adi b.adi
start_program 'C:\Ham\qsoflat.exe' 'C:\Ham\LoTW\a.adi' 'C:\Ham\LoTW\b.adi'
find_window
wait_for_file "$ham/LoTW/a.csv" "$work/example.csv"
wait_for_file "$ham/LoTW/b.csv" "$work/example.csv"
check_waiting two-reports
press Return
check_status 0
for report in a.adi b.adi; do
  cmp -s "$ham/LoTW/$report" "$examples/lotwreport.adi" || fail "$report changed"
done

fresh_case "a dropped detailed download, answered with S, converts whole" d.adi
start_program 'C:\Ham\qsoflat.exe' 'C:\Ham\LoTW\d.adi'
find_window
wait_for_file "$ham/LoTW/d.csv" "$work/header-only.csv"
check_waiting s-question
press s Return
wait_for_file "$ham/LoTW/d.csv" "$work/detailed.csv"
check_waiting after-s
press Return
check_status 0

fresh_case "a dropped detailed download, answered with Enter alone, closes" d.adi
start_program 'C:\Ham\qsoflat.exe' 'C:\Ham\LoTW\d.adi'
find_window
wait_for_file "$ham/LoTW/d.csv" "$work/header-only.csv"
check_waiting enter-alone
press Return
check_status 1
cmp -s "$ham/LoTW/d.csv" "$work/header-only.csv" || fail "d.csv changed after Enter alone"

fresh_case "Enter alone after a detailed download goes on with the next report" d.adi b.adi
start_program 'C:\Ham\qsoflat.exe' 'C:\Ham\LoTW\d.adi' 'C:\Ham\LoTW\b.adi'
find_window
wait_for_file "$ham/LoTW/d.csv" "$work/header-only.csv"
check_waiting go-on-question
press Return
wait_for_file "$ham/LoTW/b.csv" "$work/example.csv"
check_waiting after-go-on
press Return
check_status 1

fresh_case "a double-click shows the guide and waits"
start_program 'C:\Ham\qsoflat.exe'
find_window
check_waiting double-click
press Return
check_status 1

# cmd's window is its own, so the program shares it, as in a command
# prompt: it must end without a key, and without asking about the
# detailed download.
fresh_case "from cmd /c nothing waits" a.adi d.adi
start_program cmd.exe /c 'C:\Ham\qsoflat.exe' 'C:\Ham\LoTW\a.adi' '&&' \
  'C:\Ham\qsoflat.exe' 'C:\Ham\LoTW\d.adi'
check_status 1
cmp -s "$ham/LoTW/a.csv" "$work/example.csv" || fail "a.csv is not the example's CSV"
cmp -s "$ham/LoTW/d.csv" "$work/header-only.csv" || fail "d.csv is not the header alone"

echo "PASSED: every window waited, asked and ended as its user expects"
