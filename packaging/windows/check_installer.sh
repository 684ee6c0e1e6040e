#!/usr/bin/env bash
# Checks the Windows installer under wine, as a user without administrator
# rights meets it:
#
#   check_installer.sh <mingw build folder> <sample.pdf>
#
# Three rounds, each: install silently (/S); the files are the install tree plus
# Uninstall.exe in %LOCALAPPDATA%\Programs\Quillane; "wine reg query" shows the
# ProgID quillane.pdfdoc with its verbs "open" and quillane_main, the
# OpenWithProgids entry, the context-menu verb for every PDF and the entry of
# the installed-programs list, all naming the installed quillane.exe; the
# installer's "/diag" run cached the user's reader in PdfReadCmd. Then Quillane
# is made the default program for PDF documents and the registered commands
# are run as the shell runs them (CreateProcessW, through wide_command.exe):
# "Open without images" shows the copy without images in the user's reader
# (reader_stand_in.exe), "open" hands the document itself to that reader,
# never to Quillane again. Uninstall silently: the files and keys are gone and
# HKCU\Software\Classes and the uninstall list are as before the install, byte
# for byte; the user's settings stay. The second round has other programs'
# entries beside Quillane's under .pdf, which stay. The third installs into a
# profile folder with a non-ASCII name ("C:\users\Zoë Σοφία": the local
# application data and the temporary folder of the wine user point there) and
# runs the verbs on a document named in Cyrillic with an emoji. Registry values
# are read through "reg export", whose file is UTF-16 ("reg query" prints in
# the console's code page).
#
# The wine environment (WINEPREFIX, WINEDEBUG, ...) must be set and a wine
# server running, as .ci/wine-stage.sh does. Exit status 1 when a check failed.
set -uo pipefail

BUILD=$(cd "$1" && pwd)
SAMPLE=$(realpath "$2")
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
SETUP=$BUILD/quillane-$VERSION-win64-setup.exe
READER_EXE=$BUILD/tests/wine/reader_stand_in.exe
WIDE_COMMAND=$BUILD/tests/wine/wide_command.exe
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
# reg_read <key> <value name, empty for the default> <data | type>: one value
# of the key itself, from "reg export" (UTF-16, so text in any script survives).
reg_read() {
  local file=$WORK/export.reg
  rm -f "$file"
  wine reg export "$1" "$(winpath "$file")" /y >/dev/null 2>&1 || return 0
  python3 - "$file" "$1" "$2" "$3" <<'PYTHON'
import re, sys
path, key, name, what = sys.argv[1:5]
# Long hex values go on over lines that end with a backslash.
text = open(path, encoding="utf-16").read().replace("\r\n", "\n").replace("\\\n  ", "")
roots = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}
first, _, rest = key.partition("\\")
wanted = ("[" + roots.get(first, first) + ("\\" + rest if rest else "") + "]").lower()
section = None
unescape = lambda quoted: re.sub(r"\\(.)", r"\1", quoted)
for line in text.split("\n"):
    if line.startswith("["):
        section = line.lower()
        continue
    match = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
    if section != wanted or not match or (match.group(1) == "@") != (name == ""):
        continue
    if name and unescape(match.group(2)).lower() != name.lower():
        continue
    data = match.group(3)
    if data.startswith('"'):
        kind, value = "REG_SZ", unescape(data[1:-1])
    elif data.startswith("hex(2):"):
        kind = "REG_EXPAND_SZ"
        value = bytes.fromhex(data[7:].replace(",", "")).decode("utf-16-le").rstrip("\0")
    elif data.startswith("hex(0):"):
        kind, value = "REG_NONE", ""
    elif data.startswith("dword:"):
        kind, value = "REG_DWORD", str(int(data[6:], 16))
    else:
        kind, value = "other", data
    print(kind if what == "type" else value, end="")
    break
PYTHON
}
reg_default() { reg_read "$1" "" data; }     # <key>
reg_value() { reg_read "$1" "$2" data; }     # <key> <value name>
reg_type() { reg_read "$1" "$2" type; }      # <key> <value name>
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
# the shell does, "%1" replaced by the document, with CreateProcessW (a batch
# file would be read in the console's code page) and waits for its end.
run_verb() { timeout 60 wine "$WIDE_COMMAND" "${1//%1/$2}"; }

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
SHELL_FOLDERS='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer'
USER_ENVIRONMENT='HKCU\Environment'
# The wine user's own folders, restored after the last round.
DEFAULT_LOCALAPPDATA=$(reg_value "$SHELL_FOLDERS\\User Shell Folders" "Local AppData")
DEFAULT_SHELL_LOCALAPPDATA=$(reg_value "$SHELL_FOLDERS\\Shell Folders" "Local AppData")
DEFAULT_TEMP=$(reg_value "$USER_ENVIRONMENT" TEMP)
DEFAULT_TMP=$(reg_value "$USER_ENVIRONMENT" TMP)
READER_COMMAND="\"$(winpath "$READER_EXE")\" \"%1\""

# use_folders: sets LOCALAPPDATA, WINDOWS_TEMP and the install paths for the
# folders the wine user has now.
use_folders() {
  LOCALAPPDATA=$(wine cmd /c echo %LOCALAPPDATA% | tr -d '\r\n')
  WINDOWS_TEMP=$(wine cmd /c echo %TEMP% | tr -d '\r\n')
  install_paths
}
install_paths() {
  INSTDIR_WIN="$LOCALAPPDATA\\Programs\\Quillane"
  INSTDIR=$(winepath -u "$INSTDIR_WIN" 2>/dev/null | tr -d '\r\n')
  INSTDIR=${INSTDIR%/}
  EXE_WIN="$INSTDIR_WIN\\quillane.exe"
}
# use_profile <Windows folder>: the user's local application data and
# temporary folder move into that profile folder, as for a user whose profile
# it is; the names are set directly (cmd would print them in its code page).
use_profile() {
  LOCALAPPDATA="$1\\AppData\\Local"
  WINDOWS_TEMP="$1\\Temp"
  wine reg add "$SHELL_FOLDERS\\User Shell Folders" /v "Local AppData" /t REG_EXPAND_SZ \
    /d "$LOCALAPPDATA" /f >/dev/null
  wine reg add "$SHELL_FOLDERS\\Shell Folders" /v "Local AppData" /d "$LOCALAPPDATA" /f >/dev/null
  wine reg add "$USER_ENVIRONMENT" /v TEMP /d "$WINDOWS_TEMP" /f >/dev/null
  wine reg add "$USER_ENVIRONMENT" /v TMP /d "$WINDOWS_TEMP" /f >/dev/null
  mkdir -p "$(winepath -u "$LOCALAPPDATA" 2>/dev/null)" "$(winepath -u "$WINDOWS_TEMP" 2>/dev/null)"
  install_paths
}
restore_profile() {
  wine reg add "$SHELL_FOLDERS\\User Shell Folders" /v "Local AppData" /t REG_EXPAND_SZ \
    /d "$DEFAULT_LOCALAPPDATA" /f >/dev/null
  wine reg add "$SHELL_FOLDERS\\Shell Folders" /v "Local AppData" /d "$DEFAULT_SHELL_LOCALAPPDATA" \
    /f >/dev/null
  wine reg add "$USER_ENVIRONMENT" /v TEMP /d "$DEFAULT_TEMP" /f >/dev/null
  wine reg add "$USER_ENVIRONMENT" /v TMP /d "$DEFAULT_TMP" /f >/dev/null
}
use_folders

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

install_round() {  # <name> <set-up function> <document name>
  echo "--- round: $1"
  local document=$3 stem=${3%.pdf}
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
  local main_command="\"$EXE_WIN\" /tempexec /inline /showtext /in \"%1\""
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
    wine reg export "$key" "$(winpath "$WORK/shown.reg")" /y >/dev/null 2>&1 &&
      iconv -f UTF-16 -t UTF-8 "$WORK/shown.reg" | tr -d '\r' | sed '1d; /^$/d; s/^/    /'
  done

  # Quillane becomes the default program for PDF documents; its verbs still
  # reach the user's reader through the cached command.
  wine reg add "$FILEEXTS_KEY\\UserChoice" /v Progid /d quillane.pdfdoc /f >/dev/null
  mkdir -p "$WORK/documents"
  local document_path=$WORK/documents/$document
  cp "$SAMPLE" "$document_path"
  rm -f "$WORK/record.txt" "$WORK/seen.pdf"
  # The stand-in stays open a while, as a reader does, so the copy it shows
  # is deleted when it ends (one that ends at once leaves the copy for the
  # instance it handed the document to).
  QUILLANE_READER_RECORD=$(winpath "$WORK/record.txt") QUILLANE_READER_DELAY_MS=3500 \
    QUILLANE_READER_SNAPSHOT=$(winpath "$WORK/seen.pdf") \
    run_verb "$(reg_default "$menu\\command")" "$(winpath "$document_path")"
  wait_for 60 test -f "$WORK/record.txt" || fail "Open without images: no reader started"
  expect_eq "Open without images: reader command line" \
    "\"$(winpath "$READER_EXE")\" \"$WINDOWS_TEMP\\Quillane\\${stem}_Vexlo.pdf\"
document=yes" "$(tr -d '\r' <"$WORK/record.txt" 2>/dev/null)"
  if [ -f "$WORK/seen.pdf" ]; then
    local size
    size=$(stat -c %s "$SAMPLE")
    cmp -s -n "$size" "$SAMPLE" "$WORK/seen.pdf" || fail "the copy shown does not begin with the input"
    ((size < $(stat -c %s "$WORK/seen.pdf"))) || fail "the copy shown has no update"
    qpdf --check "$WORK/seen.pdf" >/dev/null 2>&1 || fail "qpdf --check rejects the copy shown"
  fi
  cmp -s "$SAMPLE" "$document_path" || fail "the document was changed"
  local shown
  shown=$(winepath -u "$WINDOWS_TEMP\\Quillane\\${stem}_Vexlo.pdf" 2>/dev/null | tr -d '\r\n')
  if [ -z "$shown" ] || ! wait_for 30 test ! -e "$shown"; then
    fail "the copy shown was not deleted: $shown"
  fi
  rm -f "$WORK/record.txt"
  QUILLANE_READER_RECORD=$(winpath "$WORK/record.txt") \
    run_verb "$(reg_default "$progid\\shell\\open\\command")" "$(winpath "$document_path")"
  wait_for 60 test -f "$WORK/record.txt" || fail "open: no reader started"
  expect_eq "open: reader command line" "\"$(winpath "$READER_EXE")\" \"$(winpath "$document_path")\"
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
install_round "Quillane alone" no_other_entries report.pdf
key_exists "$CLASSES\\.pdf" && fail "$CLASSES\\.pdf left after the uninstall"
key_exists "$CLASSES\\SystemFileAssociations" && fail "SystemFileAssociations left after the uninstall"

# Round 2: another program's entries beside Quillane's stay.
other_entries() {
  wine reg add "$CLASSES\\.pdf\\OpenWithProgids" /v Other.Reader /t REG_NONE /f >/dev/null
  wine reg add "$CLASSES\\SystemFileAssociations\\.pdf\\shell\\other_verb\\command" /ve \
    /d 'other.exe "%1"' /f >/dev/null
}
install_round "beside another program" other_entries report.pdf

# Round 3: a profile folder and a document whose names are not ASCII (nor in
# any one code page).
PROFILE='C:\users\Zoë Σοφία'
use_profile "$PROFILE"
install_round "in the profile $PROFILE" no_other_entries "Отчёт 😀 第一章.pdf"
expect_eq "installed into the profile" "$PROFILE\\AppData\\Local\\Programs\\Quillane" "$INSTDIR_WIN"
restore_profile
rm -rf "$(winepath -u "$PROFILE" 2>/dev/null)"
no_other_entries
wine reg delete "$READER_CLASS" /f >/dev/null 2>&1

if ((failures)); then
  echo "installer check: $failures failure(s); kept $WORK"
  exit 1
fi
rm -rf "$WORK"
echo "installer check passed: $(basename "$SETUP")"
