#!/usr/bin/env bash
# End-to-end checks of the Windows build under wine: the real quillane.exe on
# real files, its settings in the (wine) registry set with "wine reg add", its
# message boxes answered by box_clicker.exe and the user's PDF reader played by
# reader_stand_in.exe.
#
#   end_to_end.sh <mingw build folder> [<POSIX quillane>]
#
# The wine environment (WINEPREFIX, WINEDEBUG, ...) must be set and a wine
# server running, as .ci/wine-stage.sh does. With a POSIX quillane, every
# output and log is also compared byte for byte with what the POSIX build
# makes of the same input. Each case runs in its own folder under
# <build>/wine-end-to-end, kept when the case fails. Exit status 1 when a check
# failed.
set -uo pipefail

BUILD=$(cd "$1" && pwd)
POSIX_EXE=${2:+$(realpath "$2")}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
EXE=$BUILD/quillane.exe
HELPERS=$BUILD/tests/wine
WORK=$BUILD/wine-end-to-end
CONFIG_KEY='HKCU\Software\Bramblecote Software\quillane'
LEGACY_KEY='HKCU\Software\Fennimore Software\quillane'
FILEEXTS_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.pdf'
# Wine's HKEY_CLASSES_ROOT shows HKLM\Software\Classes only (not the per-user
# classes that Windows merges in).
CLASSES_KEY='HKLM\Software\Classes'
TEST_PROGID=QuillaneTest.Reader

failures=0
checks=0
case_failed=0
CASE=

rm -rf "$WORK"
mkdir -p "$WORK"

# ---------------------------------------------------------------------------
# Helpers

# The Windows name of a Unix path: wine maps drive Z: to the root.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

fail() {
  echo "  FAIL: $*"
  case_failed=1
}

# begin_case <name>: a fresh folder $CASE, the working folder of the runs.
begin_case() {
  CASE=$WORK/$1
  case_failed=0
  mkdir -p "$CASE"
  cd "$CASE" || exit 1
  echo "--- $1"
}

end_case() {
  checks=$((checks + 1))
  if ((case_failed)); then
    failures=$((failures + 1))
    echo "  (kept $CASE)"
  else
    cd "$WORK" && rm -rf "$CASE"
  fi
}

expect_eq() {  # <what> <expected> <actual>
  [ "$2" == "$3" ] || fail "$1: expected [$2], got [$3]"
}

expect_file() { [ -f "$1" ] || fail "missing file $1"; }
expect_no_file() { [ ! -e "$1" ] || fail "unexpected file $1"; }

expect_same_bytes() {  # <expected file> <actual file>
  if ! cmp -s "$1" "$2"; then
    fail "$2 differs from $1: $(cmp "$1" "$2" 2>&1 | head -1)"
  fi
}

# The output begins with the whole input, byte for byte.
expect_prefix() {  # <input> <output>
  local size
  size=$(stat -c %s "$1")
  cmp -s -n "$size" "$1" "$2" || fail "$2 does not begin with the bytes of $1"
}

# The light mode's output: the input with some "Image" names now "Vexlo",
# nothing else changed.
expect_renamed_only() {  # <input> <output>
  python3 - "$1" "$2" <<'PYTHON' || fail "$2 is not $1 with images renamed"
import sys
before, after = (open(name, "rb").read() for name in sys.argv[1:3])
renamed = sum(1 for i in range(len(after)) if after.startswith(b"Vexlo", i)) - before.count(b"Vexlo")
sys.exit(not (renamed > 0 and len(before) == len(after)
              and after.replace(b"Vexlo", b"Image") == before.replace(b"Vexlo", b"Image")))
PYTHON
}

expect_qpdf_accepts() {
  if command -v qpdf >/dev/null && ! qpdf --check "$1" >/dev/null 2>&1; then
    fail "qpdf --check rejects $1: $(qpdf --check "$1" 2>&1 | tail -2 | tr '\n' ' ')"
  fi
}

reg_set() {  # <key> <value name> <type> <data>
  wine reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null || fail "wine reg add $1 $2"
}
reg_default() {  # <key> <data>
  wine reg add "$1" /ve /d "$2" /f >/dev/null || fail "wine reg add $1 (default)"
}
reg_remove() { wine reg delete "$1" /f >/dev/null 2>&1 || true; }
reg_value() {  # <key> <value name>: the data as reg query shows it
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^    $2    REG_[A-Z_]*    //p"
}

set_mode() {  # none | tgraybox | "" (value absent)
  if [ -z "$1" ]; then
    wine reg delete "$CONFIG_KEY" /v ReplaceObject /f >/dev/null 2>&1 || true
  else
    reg_set "$CONFIG_KEY" ReplaceObject REG_SZ "$1"
  fi
}

# run_exe <exe> <args...>: runs a quillane.exe in $CASE while box_clicker
# answers every message box it shows. Afterwards $CASE/boxes.txt holds one
# line per box ("icon=... owned=... buttons=... text=...") and QUILLANE_STATUS
# the exit status. A run that does not end within 60 s fails the case.
run_exe() {
  local exe=$1
  shift
  rm -f "$CASE/boxes.txt" "$CASE/boxes.txt.partial"
  wine "$HELPERS/box_clicker.exe" "$(winpath "$CASE/boxes.txt")" 99 120000 &
  local clicker=$!
  timeout 60 wine "$exe" "$@"
  QUILLANE_STATUS=$?
  ((QUILLANE_STATUS == 124)) && fail "quillane.exe did not end: $*"
  # The run is over, so no box is left to answer.
  kill "$clicker" 2>/dev/null
  wait "$clicker" 2>/dev/null
  [ -f "$CASE/boxes.txt.partial" ] && mv "$CASE/boxes.txt.partial" "$CASE/boxes.txt"
  touch "$CASE/boxes.txt"
}

run_quillane() { run_exe "$EXE" "$@"; }

# expect_boxes <line>...: exactly these boxes, in this order.
expect_boxes() { expect_eq "message boxes" "$(printf '%s\n' "$@")" "$(cat "$CASE/boxes.txt")"; }

expect_no_boxes() { expect_eq "message boxes" "" "$(cat "$CASE/boxes.txt")"; }

# Message boxes of another process are identified by their text and button;
# wine keeps the icon private to the process that shows it ("shown").
box() { printf 'icon=shown owned=0 buttons=OK text=%s' "$1"; }

# posix_output <mode> <input> <output> <log>: what the POSIX build writes for
# the same input in the same mode; false without a POSIX build.
posix_output() {
  [ -n "$POSIX_EXE" ] || return 1
  local registry=$CASE/posix-registry.reg
  printf 'Windows Registry Editor Version 5.00\r\n\r\n' >"$registry"
  if [ -n "$1" ]; then
    printf '[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\r\n"ReplaceObject"="%s"\r\n' \
      "$1" >>"$registry"
  fi
  QUILLANE_REGISTRY=$registry QUILLANE_LOG=$4 "$POSIX_EXE" /in "$2" /out "$3" /overwrite ||
    fail "POSIX quillane failed on $2"
}

# ---------------------------------------------------------------------------
# The main job in every mode, both cross-reference forms

main_job_case() {  # <mode> <sample> [extra option]
  local mode=$1 sample=$2 option=${3:-}
  begin_case "mode-${mode:-default}${option//\//-}-${sample%.pdf}"
  set_mode "$mode"
  cp "$ROOT/samples/$sample" input.pdf
  QUILLANE_LOG=$(winpath "$CASE/log.txt") run_quillane /in "$(winpath "$CASE/input.pdf")" $option
  expect_eq "exit status" 0 "$QUILLANE_STATUS"
  expect_no_boxes
  expect_same_bytes "$ROOT/samples/$sample" input.pdf
  expect_file input_Vexlo.pdf
  [ -f input_Vexlo.pdf ] || { end_case; return; }
  # A stored "none" or "tgraybox" decides; "/noother" only without one.
  local effective=$mode
  [ -z "$mode" ] && [ "$option" == /noother ] && effective=none
  if [ "$effective" == none ]; then
    expect_renamed_only input.pdf input_Vexlo.pdf
  else
    expect_prefix input.pdf input_Vexlo.pdf
    expect_qpdf_accepts input_Vexlo.pdf
  fi
  expect_eq "output log line" "output: $(winpath "$CASE/input_Vexlo.pdf")" \
    "$(grep -a '^output: ' log.txt)"
  if posix_output "$effective" input.pdf posix.pdf posix-log.txt; then
    expect_same_bytes posix.pdf input_Vexlo.pdf
    expect_eq "log lines as on POSIX" "$(grep -av '^output: ' posix-log.txt)" \
      "$(grep -av '^output: ' log.txt)"
  fi
  end_case
}

for sample in sample.pdf sample-xrefstream.pdf; do
  for mode in "" none tgraybox; do main_job_case "$mode" "$sample"; done
  main_job_case "" "$sample" /noother
done
# A stored "tgraybox" wins over "/noother".
main_job_case tgraybox sample.pdf /noother

begin_case mode-invalid-type
reg_set "$CONFIG_KEY" ReplaceObject REG_DWORD 1
cp "$ROOT/samples/sample.pdf" input.pdf
run_quillane /in "$(winpath "$CASE/input.pdf")"
expect_eq "exit status" 0 "$QUILLANE_STATUS"
# "'" sorts before ".", so the error box adds no full stop.
expect_boxes "$(box "Invalid data type for 'ReplaceObject'")"
expect_no_file input_Vexlo.pdf
set_mode ""
end_case

# ---------------------------------------------------------------------------
# Output naming with Windows paths

naming_case() {  # <name> <input as passed> <unix input> <unix output expected> [args...]
  local name=$1 input=$2 unixInput=$3 unixOutput=$4
  shift 4
  begin_case "naming-$name"
  mkdir -p "$(dirname "$unixInput")"
  cp "$ROOT/samples/sample.pdf" "$unixInput"
  run_quillane /in "$input" "$@"
  expect_no_boxes
  expect_file "$unixOutput"
  [ -f "$unixOutput" ] && expect_prefix "$unixInput" "$unixOutput"
  expect_same_bytes "$ROOT/samples/sample.pdf" "$unixInput"
  end_case
}

set_mode ""
DRIVE_C=$WINEPREFIX/drive_c
naming_case backslashes "$(winpath "$WORK/naming-backslashes/docs/report.pdf")" \
  "$WORK/naming-backslashes/docs/report.pdf" "$WORK/naming-backslashes/docs/report_Vexlo.pdf"
naming_case forward-slashes-dotted-folder "Z:$WORK/naming-forward-slashes-dotted-folder/my.docs/report" \
  "$WORK/naming-forward-slashes-dotted-folder/my.docs/report" \
  "$WORK/naming-forward-slashes-dotted-folder/my.docs/report_Vexlo"
naming_case drive-c-two-dots 'C:\quillane-e2e\a.b.pdf' \
  "$DRIVE_C/quillane-e2e/a.b.pdf" "$DRIVE_C/quillane-e2e/a.b_Vexlo.pdf"
rm -rf "$DRIVE_C/quillane-e2e"
naming_case relative 'sub\report.pdf' \
  "$WORK/naming-relative/sub/report.pdf" "$WORK/naming-relative/sub/report_Vexlo.pdf"
naming_case blanks "$(winpath "$WORK/naming-blanks/with blanks/report.pdf")" \
  "$WORK/naming-blanks/with blanks/report.pdf" "$WORK/naming-blanks/with blanks/report_Vexlo.pdf"
naming_case out-option "$(winpath "$WORK/naming-out-option/report.pdf")" \
  "$WORK/naming-out-option/report.pdf" "$WORK/naming-out-option/elsewhere.pdf" \
  /out "$(winpath "$WORK/naming-out-option/elsewhere.pdf")"
naming_case non-ascii "$(winpath "$WORK/naming-non-ascii/répertoire/café.pdf")" \
  "$WORK/naming-non-ascii/répertoire/café.pdf" "$WORK/naming-non-ascii/répertoire/café_Vexlo.pdf"

begin_case non-ascii-log
mkdir -p été
cp "$ROOT/samples/sample.pdf" été/café.pdf
QUILLANE_LOG=$(winpath "$CASE/log.txt") run_quillane /in "$(winpath "$CASE/été/café.pdf")" \
  /out "$(winpath "$CASE/été/résultat.pdf")"
expect_file été/résultat.pdf
# The program sees and logs the path as it was given, in UTF-8.
expect_eq "output line" "output: $(winpath "$CASE/été/résultat.pdf")" "$(grep -a '^output: ' log.txt)"
end_case

# ---------------------------------------------------------------------------
# Names in any script, at any path length: the program crosses the Win32 seam
# in UTF-16, so every name reaches the file functions as it was given, and a
# full path longer than MAX_PATH reaches them in the "\\?\" form.

# Cyrillic, CJK, Greek, an emoji (a surrogate pair in UTF-16), combining marks.
UNICODE_NAMES=("Отчёт за 2026" "报告 第一章" "Ελληνικά" "notes 😀" $'Cafe\xcc\x81 cre\xcc\x80me')
# Two folders of 121 characters: every full path below is longer than 260.
LONG_FOLDERS=$(printf 'x%.0s' $(seq 1 120))a/$(printf 'x%.0s' $(seq 1 120))b

# unicode_folder <short | long>: the folder of the documents in $CASE.
unicode_folder() {
  if [ "$1" == long ]; then printf '%s/%s' "$CASE" "$LONG_FOLDERS"; else printf '%s/docs' "$CASE"; fi
}

# The Win32 file calls of one run whose first argument is a full path in the
# "\\?\" form, as wine's relay trace shows them (one per line: the call name).
long_form_calls() {  # <args...>
  WINEDEBUG=+relay timeout 60 wine "$EXE" "$@" 2>&1 >/dev/null |
    sed -n 's/^[0-9a-f]*:Call KERNEL32\.\(CreateFileW\|MoveFileExW\|GetFileAttributesW\)([0-9a-f]* L"\\\\\\\\?\\\\.*/\1/p' |
    sort -u | xargs
}

unicode_case() {  # <index into UNICODE_NAMES> <short | long>
  local name=${UNICODE_NAMES[$1]}
  begin_case "unicode-$1-$2"
  local folder
  folder=$(unicode_folder "$2")
  mkdir -p "$folder"
  cp "$ROOT/samples/sample.pdf" "$folder/$name.pdf"
  local input output
  input=$(winpath "$folder/$name.pdf")
  output=$(winpath "$folder/${name}_Vexlo.pdf")
  [ "$2" == long ] && ((${#input} <= 260)) && fail "the long path has only ${#input} characters"
  # As Explorer hands a dropped file over: a bare argument.
  QUILLANE_LOG=$(winpath "$CASE/log.txt") run_quillane "$input"
  expect_eq "exit status" 0 "$QUILLANE_STATUS"
  expect_no_boxes
  expect_same_bytes "$ROOT/samples/sample.pdf" "$folder/$name.pdf"
  expect_eq "folder after the run" "$name.pdf|${name}_Vexlo.pdf" "$(ls -A "$folder" | sort | paste -sd '|')"
  expect_eq "output log line" "output: $output" "$(grep -a '^output: ' log.txt)"
  if [ -f "$folder/${name}_Vexlo.pdf" ] && posix_output "" "$folder/$name.pdf" posix.pdf posix-log.txt; then
    expect_same_bytes posix.pdf "$folder/${name}_Vexlo.pdf"
    expect_eq "log lines as on POSIX" "$(grep -av '^output: ' posix-log.txt)" \
      "$(grep -av '^output: ' log.txt)"
  fi
  if [ "$2" == long ]; then
    expect_eq "calls given the \\\\?\\ form" "CreateFileW GetFileAttributesW MoveFileExW" \
      "$(long_form_calls "$input" /overwrite)"
    [ -f posix.pdf ] && expect_same_bytes posix.pdf "$folder/${name}_Vexlo.pdf"
  else
    expect_eq "calls given the \\\\?\\ form" "" "$(long_form_calls "$input" /overwrite)"
  fi
  end_case
}

set_mode ""
for index in "${!UNICODE_NAMES[@]}"; do
  for where in short long; do unicode_case "$index" "$where"; done
done

# A document that cannot be read names itself in the error box, whatever its
# script and length; a damaged one gets the damage message.
begin_case unicode-errors
for where in short long; do
  folder=$(unicode_folder "$where")
  mkdir -p "$folder"
  for name in "${UNICODE_NAMES[@]}"; do
    run_quillane /in "$(winpath "$folder/$name.pdf")"
    box_text=$(sed -n 's/^icon=shown owned=0 buttons=OK text=//p' boxes.txt)
    [[ "$box_text" == "Cannot open file \"$(winpath "$folder/$name.pdf")\". "?*. ]] ||
      fail "missing $where $name: error box [$box_text]"
  done
  mkdir -p "$folder/${UNICODE_NAMES[0]}.pdf"
  run_quillane /in "$(winpath "$folder/${UNICODE_NAMES[0]}.pdf")"
  box_text=$(sed -n 's/^icon=shown owned=0 buttons=OK text=//p' boxes.txt)
  [[ "$box_text" == "Cannot open file \"$(winpath "$folder/${UNICODE_NAMES[0]}.pdf")\". "?*. ]] ||
    fail "folder $where: error box [$box_text]"
  printf 'not a PDF\n' >"$folder/${UNICODE_NAMES[3]}.pdf"
  run_quillane /in "$(winpath "$folder/${UNICODE_NAMES[3]}.pdf")"
  expect_boxes "$(box "No startxref offset found at the end of the file; it is not a PDF file or it is damaged.")"
  expect_no_file "$folder/${UNICODE_NAMES[3]}_Vexlo.pdf"
done
end_case

# A name holding a lone surrogate (possible on NTFS, passed here by a program
# that builds its command line in UTF-16) opens nothing: not the file whose
# name has U+FFFD in its place either. The box names it with that U+FFFD.
begin_case unicode-lone-surrogate
cp "$ROOT/samples/sample.pdf" "x�.pdf"
run_exe "$HELPERS/wide_command.exe" --escapes "\"$(winpath "$EXE")\" \"$(winpath "$CASE")\\x\\u{D800}.pdf\""
box_text=$(sed -n 's/^icon=shown owned=0 buttons=OK text=//p' boxes.txt)
[[ "$box_text" == "Cannot open file \"$(winpath "$CASE/x�.pdf")\". "?* ]] ||
  fail "error box [$box_text]"
expect_no_file "x�_Vexlo.pdf"
expect_same_bytes "$ROOT/samples/sample.pdf" "x�.pdf"
end_case

# ---------------------------------------------------------------------------
# Refusals and errors

begin_case existing-output
cp "$ROOT/samples/sample.pdf" report.pdf
printf keep >report_Vexlo.pdf
run_quillane /in "$(winpath "$CASE/report.pdf")"
expect_boxes "$(box "Target output file already exists")"
expect_eq "existing output" keep "$(cat report_Vexlo.pdf)"
run_quillane /in "$(winpath "$CASE/report.pdf")" /overwrite
expect_no_boxes
expect_prefix report.pdf report_Vexlo.pdf
expect_eq "folder after /overwrite" "report.pdf report_Vexlo.pdf" "$(ls -A | grep -v boxes | xargs)"
end_case

if command -v qpdf >/dev/null; then
  begin_case encrypted
  qpdf --encrypt user owner 256 -- "$ROOT/samples/sample.pdf" secret.pdf
  cp secret.pdf original.pdf
  run_quillane /in "$(winpath "$CASE/secret.pdf")"
  expect_boxes "$(box "Quillane cannot handle this file, because the file is secured/encrypted.")"
  expect_no_file secret_Vexlo.pdf
  # The light mode does not read the trailer, so it processes the file.
  run_quillane /in "$(winpath "$CASE/secret.pdf")" /noother
  expect_no_boxes
  expect_file secret_Vexlo.pdf
  expect_same_bytes original.pdf secret.pdf
  end_case
else
  echo "--- encrypted: skipped (qpdf is not installed)"
fi

# Several inputs: each box keeps its text and gains the input it is about on
# a last line of its own; the good input in between is processed.
begin_case several-inputs
printf 'no trailer here\n' >a.pdf
cp "$ROOT/samples/sample.pdf" "b c.pdf"
cp "$ROOT/samples/sample.pdf" t.pdf
printf keep >t_Vexlo.pdf
run_quillane "$(winpath "$CASE/a.pdf")" "$(winpath "$CASE/b c.pdf")" "$(winpath "$CASE/t.pdf")"
expect_boxes "$(box "No startxref offset found at the end of the file; it is not a PDF file or it is damaged.")" \
  "$(winpath "$CASE/a.pdf")" "$(box "Target output file already exists")" "$(winpath "$CASE/t.pdf")"
expect_prefix "b c.pdf" "b c_Vexlo.pdf"
expect_eq "existing output" keep "$(cat t_Vexlo.pdf)"
end_case

begin_case missing-input
run_quillane /in "$(winpath "$CASE/missing.pdf")"
expect_eq "exit status after an error" 0 "$QUILLANE_STATUS"
box_text=$(sed -n 's/^icon=shown owned=0 buttons=OK text=//p' boxes.txt)
[[ "$box_text" == "Cannot open file \"$(winpath "$CASE/missing.pdf")\". "?*. ]] ||
  fail "error box: [$box_text]"
expect_eq "one box" 1 "$(wc -l <boxes.txt)"
end_case

begin_case missing-template
cp "$EXE" quillane.exe
cp "$ROOT/samples/sample.pdf" input.pdf
run_exe "$CASE/quillane.exe" /in "$(winpath "$CASE/input.pdf")"
grep -qF "text=Cannot open file \"$(winpath "$CASE/otherimg.dat")\". " boxes.txt ||
  fail "no error box for the missing template: $(cat boxes.txt)"
expect_no_file input_Vexlo.pdf
end_case

# ---------------------------------------------------------------------------
# The command line on Windows: nothing or "/?" shows the usage in a box;
# arguments that are no option are inputs; "/out" with several inputs is a
# usage error; the exit status is always 0.

begin_case command-line
for args in "" "/?"; do
  run_quillane $args
  expect_eq "exit status with [$args]" 0 "$QUILLANE_STATUS"
  grep -qF 'text=quillane.exe [options] file.pdf...' boxes.txt ||
    fail "no usage box for [$args]: $(head -c 200 boxes.txt)"
done
cp "$ROOT/samples/sample.pdf" one.pdf
cp "$ROOT/samples/sample.pdf" two.pdf
# Files dropped on the program arrive as bare paths; an unknown "/" word is
# passed over.
run_quillane "$(winpath "$CASE/one.pdf")" /unknown "$(winpath "$CASE/two.pdf")"
expect_eq "exit status with two inputs" 0 "$QUILLANE_STATUS"
expect_no_boxes
expect_prefix one.pdf one_Vexlo.pdf
expect_prefix two.pdf two_Vexlo.pdf
rm -f one_Vexlo.pdf two_Vexlo.pdf
run_quillane one.pdf two.pdf /out "$(winpath "$CASE/out.pdf")"
expect_eq "exit status after a usage error" 0 "$QUILLANE_STATUS"
grep -qF 'text="/out" cannot be used with more than one input file.' boxes.txt ||
  fail "no usage error box: $(head -c 200 boxes.txt)"
expect_no_file out.pdf
expect_no_file one_Vexlo.pdf
end_case

# ---------------------------------------------------------------------------
# Reader integration

READER=$(winpath "$HELPERS/reader_stand_in.exe")
READER_COMMAND="\"$READER\" \"%1\""
WINDOWS_TEMP=$(wine cmd /c echo %TEMP% | tr -d '\r\n')
UNIX_TEMP=$(winepath -u "$WINDOWS_TEMP" 2>/dev/null | tr -d '\r\n')

reset_reader_registry() {
  reg_remove "$FILEEXTS_KEY"
  reg_remove "$CLASSES_KEY\\$TEST_PROGID"
  reg_remove "$CLASSES_KEY\\Applications\\QuillaneTestReader.exe"
  reg_remove "$LEGACY_KEY"
  wine reg delete "$CONFIG_KEY" /v PdfReadCmd /f >/dev/null 2>&1
  wine reg delete "$CONFIG_KEY" /v CustomPdfReadCmd /f >/dev/null 2>&1
}

register_reader() {  # <command>: the test ProgID, chosen by the user, opens with it
  reg_set "$FILEEXTS_KEY\\UserChoice" Progid REG_SZ "$TEST_PROGID"
  reg_default "$CLASSES_KEY\\$TEST_PROGID\\Shell\\open\\command" "$1"
}

diag_log() { QUILLANE_LOG=$(winpath "$CASE/diag.txt") run_quillane /diag; cat diag.txt; }

begin_case reader-diag
reset_reader_registry
register_reader "$READER_COMMAND"
expect_eq "/diag report" "Diagnostics
PDF Prog.ID: $TEST_PROGID
PDF cmd: $READER_COMMAND" "$(diag_log)"
expect_no_boxes
expect_eq "PdfReadCmd written" "$READER_COMMAND" "$(reg_value "$CONFIG_KEY" PdfReadCmd)"
end_case

begin_case reader-diag-application-entry
reset_reader_registry
reg_set "$FILEEXTS_KEY" Progid REG_SZ Other.ProgId
reg_set "$FILEEXTS_KEY" Application REG_SZ QuillaneTestReader.EXE
reg_default "$CLASSES_KEY\\Applications\\QuillaneTestReader.exe\\Shell" view
reg_default "$CLASSES_KEY\\Applications\\QuillaneTestReader.exe\\Shell\\view\\command" "app \"%1\""
expect_eq "/diag report" "Diagnostics
PDF Prog.ID: QuillaneTestReader.EXE
PDF cmd: app \"%1\"" "$(diag_log)"
end_case

begin_case reader-diag-custom-and-legacy
reset_reader_registry
register_reader "$READER_COMMAND"
reg_set "$LEGACY_KEY" PdfReadCmd REG_EXPAND_SZ '%ProgramFiles%\legacy.exe "%1"'
reg_set "$LEGACY_KEY" CustomPdfReadCmd REG_DWORD 1
expect_eq "/diag report" "Diagnostics
PDF Prog.ID: $TEST_PROGID
PDF cmd: %ProgramFiles%\\legacy.exe \"%1\"" "$(diag_log)"
expect_eq "PdfReadCmd not written" "" "$(reg_value "$CONFIG_KEY" PdfReadCmd)"
expect_eq "legacy key unchanged" '%ProgramFiles%\legacy.exe "%1"' "$(reg_value "$LEGACY_KEY" PdfReadCmd)"
end_case

# The copies "/tempexec" shows live in the Quillane folder of %TEMP%.
COPIES=$UNIX_TEMP/Quillane

# A reader open for more than 3 seconds is waited for, and its copy deleted.
begin_case reader-tempexec
reset_reader_registry
register_reader "$READER_COMMAND"
cp "$ROOT/samples/sample.pdf" report.pdf
start=$(date +%s%N)
QUILLANE_READER_RECORD=$(winpath "$CASE/record.txt") QUILLANE_READER_DELAY_MS=3500 \
  QUILLANE_READER_SNAPSHOT=$(winpath "$CASE/seen.pdf") \
  run_quillane /in "$(winpath "$CASE/report.pdf")" /tempexec
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
expect_no_boxes
# The record is the reader's last act: present now means quillane waited.
expect_file record.txt
expect_eq "reader command line" "\"$READER\" \"$WINDOWS_TEMP\\Quillane\\report_Vexlo.pdf\"
document=yes" "$(tr -d '\r' <record.txt)"
((elapsed_ms >= 3500)) || fail "quillane returned after $elapsed_ms ms, before the reader ended"
expect_prefix report.pdf seen.pdf
expect_qpdf_accepts seen.pdf
[ -n "$UNIX_TEMP" ] && expect_no_file "$COPIES/report_Vexlo.pdf"
expect_no_file report_Vexlo.pdf
end_case

# A reader that ends at once (a single-instance reader handing the document to
# its running instance) keeps its copy; a later run removes copies older than
# a day first.
begin_case reader-tempexec-ends-at-once
reset_reader_registry
register_reader "$READER_COMMAND"
cp "$ROOT/samples/sample.pdf" report.pdf
cp "$ROOT/samples/sample.pdf" other.pdf
QUILLANE_LOG=$(winpath "$CASE/log.txt") QUILLANE_READER_RECORD=$(winpath "$CASE/record.txt") \
  run_quillane /in "$(winpath "$CASE/report.pdf")" /tempexec
expect_no_boxes
expect_eq "reader command line" "\"$READER\" \"$WINDOWS_TEMP\\Quillane\\report_Vexlo.pdf\"
document=yes" "$(tr -d '\r' <record.txt)"
expect_eq "last log line" "reader ended at once, copy kept: $WINDOWS_TEMP\\Quillane\\report_Vexlo.pdf" \
  "$(tail -1 log.txt)"
if [ -n "$UNIX_TEMP" ]; then
  expect_file "$COPIES/report_Vexlo.pdf"
  touch -d '2 days ago' "$COPIES/report_Vexlo.pdf"
  printf recent >"$COPIES/recent_Vexlo.pdf"
  touch -d '23 hours ago' "$COPIES/recent_Vexlo.pdf"
  rm -f log.txt record.txt
  QUILLANE_LOG=$(winpath "$CASE/log.txt") QUILLANE_READER_RECORD=$(winpath "$CASE/record.txt") \
    QUILLANE_READER_DELAY_MS=3500 run_quillane /in "$(winpath "$CASE/other.pdf")" /tempexec
  expect_no_boxes
  expect_eq "first log line" "old copy removed: $WINDOWS_TEMP\\Quillane\\report_Vexlo.pdf" \
    "$(head -1 log.txt)"
  expect_no_file "$COPIES/report_Vexlo.pdf"
  expect_no_file "$COPIES/other_Vexlo.pdf"
  expect_eq "recent copy kept" recent "$(cat "$COPIES/recent_Vexlo.pdf" 2>/dev/null)"
  rm -f "$COPIES/recent_Vexlo.pdf"
fi
end_case

# Replacing a file flushes the new data before the write-through move; a new
# file is not flushed, and without /overwrite its move never replaces a file
# (MOVEFILE_WRITE_THROUGH alone, 8, rather than with MOVEFILE_REPLACE_EXISTING,
# 9). Seen in wine's trace of the program's kernel32 calls.
file_calls() {  # <args...>: the flush and move calls of one run, in order
  WINEDEBUG=+relay timeout 60 wine "$EXE" "$@" 2>&1 >/dev/null |
    sed -n 's/^[0-9a-f]*:Call KERNEL32\.\(FlushFileBuffers\|MoveFileExW\)(.*,\([0-9a-f]\{8\}\)) ret=.*/\1 \2/p;
            s/^[0-9a-f]*:Call KERNEL32\.\(FlushFileBuffers\)(.*/\1/p' | xargs
}
begin_case durable-replacement
reset_reader_registry
register_reader "$READER_COMMAND"
cp "$ROOT/samples/sample.pdf" report.pdf
input=$(winpath "$CASE/report.pdf")
expect_eq "new output" "MoveFileExW 00000008" "$(file_calls /in "$input")"
expect_eq "/overwrite" "FlushFileBuffers MoveFileExW 00000009" "$(file_calls /in "$input" /overwrite)"
rm -f "$COPIES/report_Vexlo.pdf"
expect_eq "new /tempexec copy" "MoveFileExW 00000009" "$(file_calls /in "$input" /tempexec)"
expect_eq "/tempexec over the kept copy" "FlushFileBuffers MoveFileExW 00000009" \
  "$(file_calls /in "$input" /tempexec)"
rm -f "$COPIES/report_Vexlo.pdf"
end_case

begin_case reader-redirect
reset_reader_registry
register_reader "$READER_COMMAND"
QUILLANE_READER_RECORD=$(winpath "$CASE/record.txt") QUILLANE_READER_DELAY_MS=2000 \
  run_quillane /in 'C:\not there\doc.pdf' /redirect
expect_no_boxes
expect_no_file record.txt  # quillane did not wait for the reader
for _ in $(seq 1 100); do [ -f record.txt ] && break; sleep 0.2; done
expect_eq "reader command line" "\"$READER\" \"C:\\not there\\doc.pdf\"
document=no" "$(tr -d '\r' <record.txt 2>/dev/null)"
end_case

# The reader is handed names in any script and at any length exactly as they
# are: by "/redirect" the document itself, by "/tempexec" its copy.
begin_case reader-unicode-names
reset_reader_registry
register_reader "$READER_COMMAND"
for where in short long; do
  folder=$(unicode_folder "$where")
  mkdir -p "$folder"
  for name in "${UNICODE_NAMES[@]}"; do
    cp "$ROOT/samples/sample.pdf" "$folder/$name.pdf"
    rm -f record.txt
    QUILLANE_READER_RECORD=$(winpath "$CASE/record.txt") \
      run_quillane /in "$(winpath "$folder/$name.pdf")" /redirect
    for _ in $(seq 1 100); do [ -f record.txt ] && break; sleep 0.2; done
    expect_eq "/redirect, $where folder, $name" "\"$READER\" \"$(winpath "$folder/$name.pdf")\"
document=yes" "$(tr -d '\r' <record.txt 2>/dev/null)"
    rm -f record.txt
    QUILLANE_READER_RECORD=$(winpath "$CASE/record.txt") \
      run_quillane /in "$(winpath "$folder/$name.pdf")" /tempexec
    expect_no_boxes
    expect_eq "/tempexec, $where folder, $name" \
      "\"$READER\" \"$WINDOWS_TEMP\\Quillane\\${name}_Vexlo.pdf\"
document=yes" "$(tr -d '\r' <record.txt 2>/dev/null)"
    [ -n "$UNIX_TEMP" ] && rm -f "$COPIES/${name}_Vexlo.pdf"
  done
done
end_case

# A reader installed in a folder with a non-ASCII name: "/diag" reports its
# command, PdfReadCmd stores it in UTF-16 (read back through "reg export",
# whose file is UTF-16; "reg query" prints in the console's code page), and
# "/tempexec" starts it.
begin_case reader-unicode-path
reset_reader_registry
mkdir -p "Читалка 阅读"
cp "$HELPERS/reader_stand_in.exe" "Читалка 阅读/reader 😀.exe"
unicode_reader=$(winpath "$CASE/Читалка 阅读/reader 😀.exe")
register_reader "\"$unicode_reader\" \"%1\""
expect_eq "/diag report" "Diagnostics
PDF Prog.ID: $TEST_PROGID
PDF cmd: \"$unicode_reader\" \"%1\"" "$(diag_log)"
wine reg export "$CONFIG_KEY" "$(winpath "$CASE/config.reg")" /y >/dev/null 2>&1
expect_eq "PdfReadCmd as stored" "\"PdfReadCmd\"=\"\\\"${unicode_reader//\\/\\\\}\\\" \\\"%1\\\"\"" \
  "$(iconv -f UTF-16 -t UTF-8 config.reg 2>/dev/null | tr -d '\r' | grep '^"PdfReadCmd"=')"
cp "$ROOT/samples/sample.pdf" "${UNICODE_NAMES[1]}.pdf"
QUILLANE_READER_RECORD=$(winpath "$CASE/record.txt") \
  run_quillane /in "$(winpath "$CASE/${UNICODE_NAMES[1]}.pdf")" /tempexec
expect_no_boxes
expect_eq "reader command line" \
  "\"$unicode_reader\" \"$WINDOWS_TEMP\\Quillane\\${UNICODE_NAMES[1]}_Vexlo.pdf\"
document=yes" "$(tr -d '\r' <record.txt 2>/dev/null)"
[ -n "$UNIX_TEMP" ] && rm -f "$COPIES/${UNICODE_NAMES[1]}_Vexlo.pdf"
end_case

begin_case reader-none-registered
reset_reader_registry
cp "$ROOT/samples/sample.pdf" report.pdf
run_quillane /in "$(winpath "$CASE/report.pdf")" /tempexec
expect_boxes "$(box "Could not deduce command to start PDF reader")"
[ -n "$UNIX_TEMP" ] && expect_no_file "$COPIES/report_Vexlo.pdf"
end_case

begin_case reader-cannot-start
reset_reader_registry
register_reader "\"$(winpath "$CASE/no reader.exe")\" \"%1\""
cp "$ROOT/samples/sample.pdf" report.pdf
run_quillane /in "$(winpath "$CASE/report.pdf")" /out "$(winpath "$CASE/shown.pdf")" /tempexec
expect_boxes "$(box "Failed to start PDF reader")"
expect_no_file shown.pdf
end_case
reset_reader_registry

echo
echo "wine end-to-end: $((checks - failures)) of $checks cases passed"
((failures == 0))
