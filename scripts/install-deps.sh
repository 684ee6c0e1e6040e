#!/usr/bin/env bash
# Installs what building and testing Quillane needs on Debian (run as root):
# the compiler and CMake, GoogleTest, zlib, the text font (fonts-dejavu-core),
# the PDF checkers the tests use and strace (tests read the system calls of a
# run), TeX with Ghostscript to typeset bitmap-font documents at test time, and
# fontTools, which checks the font subsets, and Tesseract (English and Russian
# data), OCRmyPDF and img2pdf, which make the scanned documents of the
# "/showtext" check.
# Further Debian packages given as arguments are installed as well.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(cmake ninja-build g++ libgtest-dev googletest zlib1g-dev fonts-dejavu-core python3 qpdf
  poppler-utils mupdf-tools strace texlive-base texlive-binaries ghostscript python3-fonttools
  tesseract-ocr tesseract-ocr-eng tesseract-ocr-rus ocrmypdf img2pdf "$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
