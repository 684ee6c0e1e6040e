#!/usr/bin/env bash
# Windows stage of CI: cross-compiles quillane.exe with mingw-w64, runs the unit
# suites under wine against the Win32 platform layer, checks the real exe end
# to end under wine (tests/wine/end_to_end.sh), builds the release zip and the
# per-user installer (the package target) and checks both: the zip's one
# folder, the program's version resource and manifest, and the installer
# under wine (packaging/windows/check_installer.sh).
# Called by .ci/run after the POSIX build and tests, whose build/dev/quillane
# the end-to-end checks compare against byte for byte; then two documents
# beyond 4 GiB (tests/large). About seven minutes on two cores and 10 GB of
# free disk; needs root for apt-get.
#
# What wine cannot show, and so is not tested here: the icon of a message box
# shown by another process (wine keeps icon handles private to their process;
# the unit tests check icons of their own boxes), the per-user classes that
# Windows merges into HKEY_CLASSES_ROOT (wine shows HKLM\Software\Classes
# only), Windows' own wording of system error texts (wine's FormatMessage
# differs), sharing violations raised by other Windows programs, and the
# MAX_PATH limit itself: wine's wide file functions take a long path in any
# form, so the long-path cases show (in wine's trace of the calls) that the
# "\\?\" form is what the program passes, not that Windows would refuse the
# plain one. Wine does honour the manifest's UTF-8 code page.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build/mingw

echo "--- packages"
# The -posix compiler alone: the mingw-w64 metapackage would add a second
# thread model. zlib for mingw-w64, linked statically into quillane.exe; NSIS
# for the installer.
scripts/install-deps.sh wine wine64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev nsis

# A private wine installation inside the build folder, without a display:
# with the null graphics driver message boxes are real, invisible windows
# that block until answered, as on Windows.
export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

echo "--- configure and build (mingw preset), wine prefix set up meanwhile"
cmake --preset mingw
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
(
  wineboot -i
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
  wineserver -k
  wineserver -w
) >"$BUILD/wineboot.log" 2>&1 &
wineboot_job=$!
cmake --build --preset mingw -j 2
if ! wait "$wineboot_job"; then
  cat "$BUILD/wineboot.log"
  exit 1
fi

# A persistent server, and wine's background services started up front:
# otherwise they start inside the first test and keep ctest's output pipe open.
wineserver -p
wine wineboot >/dev/null 2>&1

echo "--- unit tests under wine"
ctest --preset mingw -j 2 --timeout 300

echo "--- end-to-end checks under wine"
posix_exe=$ROOT/build/dev/quillane
if [ ! -x "$posix_exe" ]; then
  echo "(no POSIX build at $posix_exe: outputs are not compared with it)"
  posix_exe=
fi
bash tests/wine/end_to_end.sh "$BUILD" $posix_exe

echo "--- documents beyond 4 GiB under wine"
# Written out whole (the Windows build makes no holes): 4.5 GB per case.
python3 tests/large/large_documents.py --exe "$BUILD/quillane.exe" --wine \
  --cases stream-4.5GiB-default,table-4.5GiB-light

echo "--- packages: the zip and the installer (package target)"
cmake --build --preset mingw --target package
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
top=quillane-$version-win64
zip=$BUILD/$top.zip

# quillane.exe names the project's version in its version resource and runs
# as the invoker (the strings are read whole: grep -q would cut the pipe).
resource_strings=$(strings -el "$BUILD/quillane.exe")
resource_value() { grep -A1 -x "$1" <<<"$resource_strings" | sed -n 2p; }
for field in FileVersion ProductVersion; do
  if [ "$(resource_value $field)" != "$version" ]; then
    echo "quillane.exe: $field is [$(resource_value $field)], expected [$version]"
    exit 1
  fi
done
manifest=$(strings "$BUILD/quillane.exe")
if [ "$(resource_value ProductName)" != Quillane ] ||
  ! grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$manifest" ||
  ! grep -q '<activeCodePage [^>]*>UTF-8</activeCodePage>' <<<"$manifest"; then
  echo "quillane.exe: no product name, or no asInvoker and UTF-8 manifest"
  exit 1
fi

# The zip holds the install tree in one folder named like the zip.
tree=$BUILD/install-tree
rm -rf "$tree" && cmake --install "$BUILD" --prefix "$tree" >/dev/null
expected=$( (cd "$tree" && ls -A) | sed "s|^|$top/|" | sort | xargs)
listing=$(cmake -E tar tf "$zip" | grep -v '/$' | sort | xargs)
rm -rf "$tree"
if [ "$listing" != "$expected" ]; then
  echo "$zip holds [$listing], expected [$expected]"
  exit 1
fi
# Unpacked on its own, the program finds its templates beside it.
unpacked=$BUILD/zip-check
rm -rf "$unpacked" && mkdir -p "$unpacked" && cd "$unpacked"
cmake -E tar xf "$zip"
cp "$ROOT/samples/sample.pdf" .
timeout 60 wine "./$top/quillane.exe" /in sample.pdf
qpdf --check sample_Vexlo.pdf >/dev/null
cd "$ROOT" && rm -rf "$unpacked"
echo "$(basename "$zip"): $listing"

echo "--- installer under wine"
bash packaging/windows/check_installer.sh "$BUILD" samples/sample.pdf
