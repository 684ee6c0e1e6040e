#!/usr/bin/env python3
"""A hand-made reference output for showtext_check.py, standing in for the
executable: it is not the "/showtext" mode, only a check of the checker.

    python3 tests/conformance/showtext_check.py \
        --exe tests/conformance/showtext_reference.py

Takes the executable's arguments. Without "/showtext" it runs the real
executable ($QUILLANE_REFERENCE_EXE, default build/dev/quillane) as it is.
With "/showtext" it runs it without that option, then rewrites the output
with qpdf --qdf, turning every "3 Tr" (invisible text) into "0 Tr" (filled
text), and writes it back compressed. The text then shows in whatever font
the OCR layer has: OCRmyPDF's hOCR renderer writes Helvetica and reads back;
the GlyphLessFont of Tesseract and OCRmyPDF's default renderer draws a box
for every letter and does not. With QUILLANE_REFERENCE_ON_TOP=1 the order of
each page's /Contents array is reversed too, so that OCRmyPDF's text form,
drawn before the picture, comes after the placeholder that would hide it.
"""

import os
import re
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def main():
    exe = os.environ.get("QUILLANE_REFERENCE_EXE",
                         os.path.join(REPO, "build", "dev", "quillane"))
    args = sys.argv[1:]
    if "/showtext" not in args:
        return subprocess.run([exe] + args).returncode
    args = [arg for arg in args if arg != "/showtext"]
    status = subprocess.run([exe] + args).returncode
    if status != 0 or "/out" not in args:
        return status
    output = args[args.index("/out") + 1]
    with tempfile.TemporaryDirectory() as work:
        qdf = os.path.join(work, "out.qdf.pdf")
        subprocess.run(["qpdf", "--qdf", "--object-streams=disable", output, qdf], check=True)
        with open(qdf, "rb") as f:
            data = f.read()
        # Same length in, same length out: every offset of the QDF file stays.
        data = re.sub(rb"(?<![0-9.])3(\s+)Tr\b", rb"0\1Tr", data)
        if os.environ.get("QUILLANE_REFERENCE_ON_TOP") == "1":
            def reverse(match):
                refs = re.findall(rb"\d+ \d+ R", match.group(2))
                spaces = re.split(rb"\d+ \d+ R", match.group(2))
                body = b"".join(s + r for s, r in zip(spaces, reversed(refs))) + spaces[-1]
                return match.group(1) + body + b"]"
            data = re.sub(rb"(/Contents \[)([^\]]*)\]", reverse, data)
        with open(qdf, "wb") as f:
            f.write(data)
        subprocess.run(["qpdf", qdf, output], check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
