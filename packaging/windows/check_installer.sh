#!/usr/bin/env bash
# Checks the Windows installer under wine, as a user without administrator
# rights meets it:
#
#   check_installer.sh <mingw build folder> <sample.pdf>
#
# Two rounds, each: install silently (/S); the files are the install tree plus
# Uninstall.exe in %LOCALAPPDATA%\Programs\Quillane; "wine reg query" shows the
# ProgID quillane.pdfdoc with its verbs "open" and quillane_main, the
# OpenWithProgids entry, the context-menu verb for every PDF and the entry of
# the installed-programs list, all naming the installed quillane.exe; the
# installer's "/diag" run cached the user's reader in PdfReadCmd. Then Quillane
# is made the default program for PDF documents and the registered commands
# are run as the shell runs them: "Open without images" shows the copy without
# images in the user's reader (reader_stand_in.exe), "open" hands the document
# itself to that reader, never to Quillane again. Uninstall silently: the
# files and keys are gone and HKCU\Software\Classes and the uninstall list are
# as before the install, byte for byte; the user's settings stay. The second
# round has other programs' entries beside Quillane's under .pdf, which stay.
#
# The wine environment (WINEPREFIX, WINEDEBUG, ...) must be set and a wine
# server running, as .ci/wine-stage.sh does. Exit status 1 when a check failed.
set -uo pipefail

BUILD=$(cd "$1" && pwd)
SAMPLE=$(realpath "$2")
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
SETUP=$BUILD/quillane-$VERSION-win64-setup.exe
READER_EXE=$BUILD/tests/wine/reader_stand_in.exe
WORK=$BUILD/installer-check

CLASSES='HKCU\Software\Classes'
UNINSTALL_LIST='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall'
CONFIG_KEY='HKCU\Software\Bramblecote Software\quillane'
FILEEXTS_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.pdf'
# The user's reader, registered where wine's HKEY_CLASSES_ROOT shows it.
READER_PROGID=QuillaneCheck.Reader
READER_CLASS="HKLM\\Software\\Classes\\$READER_PROGID"

failures=0
fail() {
  echo "  FAIL: $*"
  failures=$((failures + 1))
}
expect_eq() {  # <what> <expected> <actual>
  [ "$2" == "$3" ] || fail "$1: expected [$2], got [$3]"
}

winpath() { printf 'Z:%s' "${1//\//\\}"; }
reg_default() {  # <key>: its default value as reg query shows it
  wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/^    ([^)]*)    REG_[A-Z_]*    //p'
}
reg_value() {  # <key> <value name>
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^    $2    REG_[A-Z_]*    //p"
}
reg_type() {  # <key> <value name>
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^    $2    \(REG_[A-Z_]*\).*/\1/p"
}
key_exists() { wine reg query "$1" >/dev/null 2>&1; }

# snapshot <file>: the per-user classes and the installed-programs list.
snapshot() {
  : >"$1"
  local key
  for key in "$CLASSES" "$UNINSTALL_LIST"; do
    if wine reg export "$key" "$(winpath "$1.part")" /y >/dev/null 2>&1; then
      iconv -f UTF-16 -t UTF-8 "$1.part" | tr -d '\r' >>"$1"
    else
      echo "[absent: $key]" >>"$1"
    fi
  done
  rm -f "$1.part"
}

# run_verb <command> <document (Windows path)>: runs a registered command as
# the shell does, "%1" replaced by the document, through cmd.
run_verb() {
  printf '@%s\r\n' "${1//%1/$2}" >"$WORK/verb.bat"
  timeout 60 wine cmd /c "$(winpath "$WORK/verb.bat")"
}

wait_for() {  # <seconds> <test command...>: true once the test holds
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

[ -f "$SETUP" ] || { echo "no installer at $SETUP"; exit 1; }
rm -rf "$WORK"
mkdir -p "$WORK"
LOCALAPPDATA=$(wine cmd /c echo %LOCALAPPDATA% | tr -d '\r\n')
WINDOWS_TEMP=$(wine cmd /c echo %TEMP% | tr -d '\r\n')
INSTDIR_WIN="$LOCALAPPDATA\\Programs\\Quillane"
INSTDIR=$(winepath -u "$INSTDIR_WIN" 2>/dev/null | tr -d '\r\n')
INSTDIR=${INSTDIR%/}
EXE_WIN="$INSTDIR_WIN\\quillane.exe"
READER_COMMAND="\"$(winpath "$READER_EXE")\" \"%1\""

echo "--- $(basename "$SETUP")"
x86_64-w64-mingw32-objdump -f "$SETUP" | grep 'file format pei-x86-64' >/dev/null ||
  fail "the installer is not a 64-bit program"
# The files the installer must put in place: the install tree.
cmake --install "$BUILD" --prefix "$WORK/tree" >/dev/null
expected_files="$( (ls -A "$WORK/tree"; echo Uninstall.exe) | sort | xargs)"

# The per-user classes and the installed-programs list exist for every Windows
# user; a fresh wine prefix may lack them, and the installer must not be taken
# to have left them behind.
wine reg add "$CLASSES" /f >/dev/null
wine reg add "$UNINSTALL_LIST" /f >/dev/null

install_round() {  # <name> <set-up function>
  echo "--- round: $1"
  wine reg delete "$FILEEXTS_KEY" /f >/dev/null 2>&1
  wine reg delete "$CONFIG_KEY" /v PdfReadCmd /f >/dev/null 2>&1
  wine reg add "$FILEEXTS_KEY\\UserChoice" /v Progid /d "$READER_PROGID" /f >/dev/null
  wine reg add "$READER_CLASS\\Shell\\open\\command" /ve /d "$READER_COMMAND" /f >/dev/null
  "$2"
  snapshot "$WORK/before.reg"

  timeout 120 wine "$SETUP" /S
  expect_eq "installer exit status" 0 $?
  expect_eq "installed files" "$expected_files" "$( (ls -A "$INSTDIR" 2>/dev/null) | sort | xargs)"
  local open_command="\"$EXE_WIN\" /redirect /in \"%1\""
  local main_command="\"$EXE_WIN\" /tempexec /inline /in \"%1\""
  local progid="$CLASSES\\quillane.pdfdoc"
  local menu="$CLASSES\\SystemFileAssociations\\.pdf\\shell\\quillane_main"
  expect_eq "open verb" "$open_command" "$(reg_default "$progid\\shell\\open\\command")"
  expect_eq "quillane_main name" "Open without images" "$(reg_default "$progid\\shell\\quillane_main")"
  expect_eq "quillane_main verb" "$main_command" "$(reg_default "$progid\\shell\\quillane_main\\command")"
  expect_eq "OpenWithProgids" REG_NONE "$(reg_type "$CLASSES\\.pdf\\OpenWithProgids" quillane.pdfdoc)"
  expect_eq "context menu name" "Open without images" "$(reg_default "$menu")"
  expect_eq "context menu verb" "$main_command" "$(reg_default "$menu\\command")"
  local entry="$UNINSTALL_LIST\\Quillane"
  expect_eq "DisplayName" Quillane "$(reg_value "$entry" DisplayName)"
  expect_eq "DisplayVersion" "$VERSION" "$(reg_value "$entry" DisplayVersion)"
  expect_eq "QuietUninstallString" "\"$INSTDIR_WIN\\Uninstall.exe\" /S" \
    "$(reg_value "$entry" QuietUninstallString)"
  expect_eq "reader cached by the installer's /diag" "$READER_COMMAND" \
    "$(reg_value "$CONFIG_KEY" PdfReadCmd)"
  echo "  registry after the install:"
  for key in "$progid" "$CLASSES\\.pdf" "$CLASSES\\SystemFileAssociations\\.pdf" "$entry" \
    "$CONFIG_KEY"; do
    wine reg query "$key" /s 2>&1 | tr -d '\r' | sed '/^$/d; s/^/    /'
  done

  # Quillane becomes the default program for PDF documents; its verbs still
  # reach the user's reader through the cached command.
  wine reg add "$FILEEXTS_KEY\\UserChoice" /v Progid /d quillane.pdfdoc /f >/dev/null
  cp "$SAMPLE" "$WORK/report.pdf"
  rm -f "$WORK/record.txt" "$WORK/seen.pdf"
  # The stand-in stays open a while, as a reader does, so the copy it shows
  # is deleted when it ends (one that ends at once leaves the copy for the
  # instance it handed the document to).
  QUILLANE_READER_RECORD=$(winpath "$WORK/record.txt") QUILLANE_READER_DELAY_MS=3500 \
    QUILLANE_READER_SNAPSHOT=$(winpath "$WORK/seen.pdf") \
    run_verb "$(reg_default "$menu\\command")" "$(winpath "$WORK/report.pdf")"
  wait_for 60 test -f "$WORK/record.txt" || fail "Open without images: no reader started"
  expect_eq "Open without images: reader command line" \
    "\"$(winpath "$READER_EXE")\" \"$WINDOWS_TEMP\\Quillane\\report_Vexlo.pdf\"
document=yes" "$(tr -d '\r' <"$WORK/record.txt" 2>/dev/null)"
  if [ -f "$WORK/seen.pdf" ]; then
    local size
    size=$(stat -c %s "$SAMPLE")
    cmp -s -n "$size" "$SAMPLE" "$WORK/seen.pdf" || fail "the copy shown does not begin with the input"
    ((size < $(stat -c %s "$WORK/seen.pdf"))) || fail "the copy shown has no update"
    qpdf --check "$WORK/seen.pdf" >/dev/null 2>&1 || fail "qpdf --check rejects the copy shown"
  fi
  cmp -s "$SAMPLE" "$WORK/report.pdf" || fail "the document was changed"
  local shown
  shown=$(winepath -u "$WINDOWS_TEMP\\Quillane\\report_Vexlo.pdf" 2>/dev/null | tr -d '\r\n')
  if [ -z "$shown" ] || ! wait_for 30 test ! -e "$shown"; then
    fail "the copy shown was not deleted: $shown"
  fi
  rm -f "$WORK/record.txt"
  QUILLANE_READER_RECORD=$(winpath "$WORK/record.txt") \
    run_verb "$(reg_default "$progid\\shell\\open\\command")" "$(winpath "$WORK/report.pdf")"
  wait_for 60 test -f "$WORK/record.txt" || fail "open: no reader started"
  expect_eq "open: reader command line" "\"$(winpath "$READER_EXE")\" \"$(winpath "$WORK/report.pdf")\"
document=yes" "$(tr -d '\r' <"$WORK/record.txt" 2>/dev/null)"
  wine reg delete "$FILEEXTS_KEY" /f >/dev/null 2>&1

  # The uninstaller runs from a copy of itself in the temporary folder and
  # returns at once; the copy removes the folder.
  timeout 60 wine "$INSTDIR/Uninstall.exe" /S
  wait_for 60 test ! -e "$INSTDIR" || fail "$INSTDIR left after the uninstall: $(ls -A "$INSTDIR")"
  snapshot "$WORK/after.reg"
  diff -u "$WORK/before.reg" "$WORK/after.reg" >"$WORK/registry.diff" ||
    fail "the registry differs after the uninstall: $(cat "$WORK/registry.diff")"
  expect_eq "settings kept" "$READER_COMMAND" "$(reg_value "$CONFIG_KEY" PdfReadCmd)"
}

# Round 1: Quillane's keys are the only ones under .pdf, so every key is gone
# after the uninstall, its parents too.
no_other_entries() {
  wine reg delete "$CLASSES\\.pdf" /f >/dev/null 2>&1
  wine reg delete "$CLASSES\\SystemFileAssociations" /f >/dev/null 2>&1
}
install_round "Quillane alone" no_other_entries
key_exists "$CLASSES\\.pdf" && fail "$CLASSES\\.pdf left after the uninstall"
key_exists "$CLASSES\\SystemFileAssociations" && fail "SystemFileAssociations left after the uninstall"

# Round 2: another program's entries beside Quillane's stay.
other_entries() {
  wine reg add "$CLASSES\\.pdf\\OpenWithProgids" /v Other.Reader /t REG_NONE /f >/dev/null
  wine reg add "$CLASSES\\SystemFileAssociations\\.pdf\\shell\\other_verb\\command" /ve \
    /d 'other.exe "%1"' /f >/dev/null
}
install_round "beside another program" other_entries
no_other_entries
wine reg delete "$READER_CLASS" /f >/dev/null 2>&1

if ((failures)); then
  echo "installer check: $failures failure(s); kept $WORK"
  exit 1
fi
rm -rf "$WORK"
echo "installer check passed: $(basename "$SETUP")"
