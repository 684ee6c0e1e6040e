#!/usr/bin/env bash
# Checks the Debian package as a user meets it:
#
#   check_deb.sh <quillane_*.deb> <build folder> <sample.pdf>
#
# The package holds exactly what `cmake --install` puts under /usr from the
# install components it is made of ("Unspecified" and "debian", see
# cmake/packaging.cmake; the ctest install_tree pins the plain tree) and
# nothing outside /usr; `dpkg -i` installs it, quillane runs from /usr/bin on
# the sample with its templates from /usr/share/quillane, the text font
# othertext.ttf leads to a file of a package that quillane depends on, the man
# page, the desktop entry, the KDE service menu and the Nemo action are in
# place and valid; `dpkg -r` removes every file it brought, and every folder
# that no other package has.
#
# Needs root. Where a private mount namespace can be had (unshare), the check
# runs inside one with /usr, /etc and /var overlaid on a scratch tmpfs, so the
# machine's own system is never changed; otherwise (a throw-away CI machine)
# it installs for real.
set -euo pipefail

deb=$(realpath "$1")
build=$(realpath "$2")
sample=$(realpath "$3")
entry_checker=$(realpath "$(dirname "$0")/check_nemo_action.py")

if [ -z "${QUILLANE_DEB_SANDBOX:-}" ] && unshare --mount true 2>/dev/null; then
  exec unshare --mount env QUILLANE_DEB_SANDBOX=1 bash "$0" "$@"
fi
if [ -n "${QUILLANE_DEB_SANDBOX:-}" ]; then
  overlays=$(mktemp -d)
  mount -t tmpfs tmpfs "$overlays"
  for dir in usr etc var; do
    mkdir "$overlays/$dir" "$overlays/$dir.work"
    mount -t overlay overlay \
      -o "lowerdir=/$dir,upperdir=$overlays/$dir,workdir=$overlays/$dir.work" "/$dir"
  done
  echo "(inside a private mount namespace: /usr, /etc and /var are scratch overlays)"
fi

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "--- package contents"
dpkg-deb -c "$deb"
# Paths in the package, folders without their trailing "/".
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed -e 's|^\./|/|' -e 's|/$||' | sort >"$scratch/package"
outside=$(grep -v '^/usr\(/\|$\)' "$scratch/package" || true)
[ -z "$outside" ] || fail "paths outside /usr: $outside"
# The package's install tree under /usr, with every folder on the way.
for component in Unspecified debian; do
  cmake --install "$build" --prefix "$scratch/tree/usr" --component "$component" >/dev/null
done
(cd "$scratch/tree" && find usr -mindepth 0 | sed 's|^|/|' | sort) >"$scratch/tree.list"
if ! diff -u "$scratch/tree.list" "$scratch/package"; then
  fail "the package differs from the install tree (- install tree, + package)"
fi
echo "Depends: $(dpkg-deb -f "$deb" Depends)"

echo "--- dpkg -i"
if dpkg -s quillane >/dev/null 2>&1; then
  fail "quillane is installed already; the check needs a system without it"
  exit 1
fi
dpkg -i "$deb"
dpkg -L quillane | grep -v '^/\.$' | sort >"$scratch/listed"
diff -u "$scratch/package" "$scratch/listed" || fail "dpkg -L differs from the package contents"

echo "--- quillane from /usr/bin"
[ "$(command -v quillane)" == /usr/bin/quillane ] || fail "quillane is not /usr/bin/quillane in PATH"
output=$scratch/sample_Vexlo.pdf
cp "$sample" "$scratch/sample.pdf"
if (cd / && env -i PATH=/usr/bin:/bin HOME="$scratch" quillane /in "$scratch/sample.pdf" \
  /out "$output"); then
  cmp -s "$sample" "$scratch/sample.pdf" || fail "the input was changed"
  size=$(stat -c %s "$sample")
  cmp -s -n "$size" "$sample" "$output" || fail "the output does not begin with the input's bytes"
  ((size < $(stat -c %s "$output"))) || fail "no update appended"
  qpdf --check "$output" >/dev/null || fail "qpdf --check rejects the output"
else
  fail "/usr/bin/quillane failed on the sample"
fi
font=/usr/share/quillane/othertext.ttf
if [ -f "$font" ]; then
  font_package=$(dpkg-query -S "$(readlink -f "$font")" 2>/dev/null | sed -n '1s/[:,].*//p')
  [ -n "$font_package" ] || fail "$font leads to $(readlink -f "$font"), which no package has"
  if [ -L "$font" ] && [[ ", $(dpkg-deb -f "$deb" Depends), " != *", $font_package"[,\ ]* ]]; then
    fail "$font leads to a file of $font_package, which quillane does not depend on"
  fi
else
  fail "$font is missing or leads nowhere ($(readlink "$font"))"
fi
if command -v man >/dev/null; then
  [ "$(man -w quillane)" == /usr/share/man/man1/quillane.1.gz ] || fail "man -w quillane: $(man -w quillane 2>&1)"
fi
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate /usr/share/applications/quillane.desktop || fail "desktop entry"
fi
for entry in /usr/share/kio/servicemenus/quillane.desktop /usr/share/nemo/actions/quillane.nemo_action; do
  [ -f "$entry" ] || fail "$entry is missing"
done
if command -v python3 >/dev/null; then
  python3 "$entry_checker" /usr/share/nemo/actions/quillane.nemo_action \
    /usr/share/applications/quillane.desktop /usr/share/kio/servicemenus/quillane.desktop ||
    fail "file-manager entries"
fi

echo "--- dpkg -r"
dpkg -r quillane
# A folder that another package has too stays.
left=$(while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then
    [ -d "$path" ] && [ ! -L "$path" ] && dpkg-query -S "$path" >/dev/null 2>&1 || echo "$path"
  fi
done <"$scratch/package")
[ -z "$left" ] || fail "left after dpkg -r: $left"
if dpkg -s quillane 2>/dev/null | grep '^Status: .* installed' >/dev/null; then
  fail "dpkg still lists quillane: $(dpkg -s quillane | grep Status)"
fi

if ((failures)); then
  echo "Debian package check: $failures failure(s)"
  exit 1
fi
echo "Debian package check passed: $(basename "$deb")"
