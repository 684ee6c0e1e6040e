#!/usr/bin/env python3
"""Checks "/showtext": the OCR text of scanned documents, made visible where
the scan was once the scan is a placeholder, must read back as that text.

    python3 tests/conformance/showtext_check.py [--exe PATH] [--flags TEXT]
        [--only NAME,...] [--modes MODE,...] [--documents DIR] [--keep DIR]
        [--jobs N]
    python3 tests/conformance/showtext_check.py --make-only DIR

The script typesets English and Russian pages (plain TeX; mutool create with
DejaVu Serif), renders them as a scanner would (Ghostscript, 200 dpi, turned
a degree, specks of dust) and OCRs them the ways users do:
OCRmyPDF (PDF/A, plain PDF, its hOCR renderer), Tesseract's own PDF, and
Tesseract's PDF rewritten by qpdf with object streams (DOCUMENTS below; the
structure of each is described in ocr_layers.md beside this script). Each
document is run through the executable with the flags ("/showtext" unless
--flags says otherwise) in the default, the translucent ("ReplaceObject" =
"tgraybox" in the run's registry file) and the outline ("/outline") modes,
and once more without the flags for the size comparison. An output passes
when
  - its pages, rendered by pdftoppm at 150 dpi and read by Tesseract, give at
    least MIN_READ_BACK % of the words of the input's text layer (words:
    lower-case runs of two or more letters or digits, compared as multisets);
  - the word boxes of pdftotext -bbox are the input's within MAX_BOX_SHIFT
    points, and pdftotext gives the input's text. pdftotext cuts words where
    the baseline of a turned line drifts between two letters, and the drift
    falls elsewhere once the letters have their real widths: a word it cut
    in the input may come out whole, or the other way round, and its piece
    may go to another line. So the text is compared without its white space
    and line order, as the multiset of its letters, and the boxes of the
    words both cut alike (at least MIN_SAME_WORDS % of the input's, in
    order) are compared;
  - pdfimages -list shows no image larger than 1 x 1 (the outline
    placeholder's 256 x 256 soft mask is its mask, not an image);
  - qpdf --check accepts it;
  - it is at most SIZE_ALLOWANCE + SIZE_PER_PAGE x pages larger than the run
    without the flags.
The scan itself (the input) is read back the same way and reported: that is
what OCR of the picture gives, the ceiling a visible text layer is held to.

--flags ''        runs the plain modes (the text stays invisible: must fail)
--exe tests/conformance/showtext_reference.py
                  a hand-made reference output (see that script)
--documents DIR   takes the documents from DIR (made by --make-only) instead
                  of making them
--keep DIR        keeps every output and page rendering in DIR

Needs tesseract (eng and rus data), ocrmypdf, img2pdf, pdftex, mutool, qpdf,
poppler-utils and the DejaVu fonts; the standard library only. Prints a table
(document x mode) and the failures; the exit status is 1 on a failure, and 77
(a skip for ctest) when a tool is missing, unless CI=true.
"""

import argparse
import collections
import concurrent.futures
import difflib
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import textwrap
import time

# ---------------------------------------------------------------------------
# What is checked, and on what

MIN_READ_BACK = 95.0  # % of the input's text-layer words read back
MAX_BOX_SHIFT = 2.0  # points, any edge of any pdftotext -bbox word box
MIN_SAME_WORDS = 99.0  # % of the input's pdftotext words the output cuts alike
SIZE_ALLOWANCE = 64 * 1024  # bytes more than the run without the flags...
SIZE_PER_PAGE = 16 * 1024  # ...plus this per page
SCAN_DPI = 200  # the scanned pages
# The scanner: each page turned by SCAN_SKEW degrees about its centre and
# sprinkled with SCAN_SPECKS one-pixel specks, English pages in black and
# white, Russian ones in gray (Ghostscript devices).
SCAN_SKEW = 1.0
SCAN_SPECKS = 8000
SCAN_DEVICES = {"english": "pngmono", "russian": "pnggray"}
CHECK_DPI = 150  # the read-back renderings
DEFAULT_FLAGS = "/showtext"

# name: (typeset pages, how it is OCRed, Tesseract language)
DOCUMENTS = {
    "en-ocrmypdf-pdfa": (["en1", "en2"], "ocrmypdf", "eng"),
    "ru-ocrmypdf-pdfa": (["ru1"], "ocrmypdf", "rus"),
    "en-ocrmypdf-pdf": (["en1"], "ocrmypdf-pdf", "eng"),
    "ru-ocrmypdf-pdf": (["ru1"], "ocrmypdf-pdf", "rus"),
    "en-hocr-pdfa": (["en2"], "ocrmypdf-hocr", "eng"),
    "en-hocr-pdf": (["en1"], "ocrmypdf-hocr-pdf", "eng"),
    "en-tesseract": (["en1"], "tesseract", "eng"),
    "ru-tesseract": (["ru1"], "tesseract", "rus"),
    "ru-tesseract-objstm": (["ru1"], "tesseract-objstm", "rus"),
}

# name: (extra command-line options, registry file text or None)
MODES = {
    "default": ([], None),
    "tgraybox": ([], "Windows Registry Editor Version 5.00\n\n"
                 "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\n"
                 "\"ReplaceObject\"=\"tgraybox\"\n"),
    "outline": (["/outline"], None),
}

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOLS = ("tesseract", "ocrmypdf", "img2pdf", "pdftex", "mutool", "gs", "qpdf", "pdftoppm",
         "pdftotext", "pdfimages")
FONT_DIR = "/usr/share/fonts/truetype/dejavu"
FONTS = ("DejaVuSerif.ttf", "DejaVuSans-Bold.ttf")

# Tesseract and OCRmyPDF each take one core: the script runs two at a time.
OCR_ENV = dict(os.environ, OMP_THREAD_LIMIT="1")

# ---------------------------------------------------------------------------
# The typeset pages

ENGLISH_TEX = r"""\hsize=6.2in \vsize=9in \parindent=1.5em \parskip=4pt
\font\title=cmbx12 scaled 1200
\centerline{\title The Lighthouse Keeper's Ledger} \bigskip
For nearly forty years the keeper wrote down the weather twice a day, the
ships that passed, and the oil that the lamp burned. The ledger survives in
the county archive, where it was scanned page by page so that historians
could read it without handling the fragile paper. Each scanned page is only a
picture; to search it, somebody ran it through a recognition program, which
added a hidden layer of text under the picture.

A reader who opens the file sees the picture and can still select words, copy
a sentence, or search for a ship by name. The hidden layer is drawn with an
invisible rendering mode, so it never shows on screen or on paper, yet every
word sits exactly where the picture shows it.
\vfill\eject
\centerline{\title Stores received in 1897} \bigskip
In March the supply boat brought 12 barrels of lamp oil, 40 pounds of wick,
six panes of glass for the lantern room and a new barometer from the maker in
Leith. The keeper noted that two of the barrels leaked and that the glass was
packed in straw, which he burned in the kitchen stove.

In October a storm broke the landing stage. For nine days no boat could come
alongside, and the family lived on salted fish, oatmeal and the potatoes from
the garden behind the tower. The entry for the tenth day reads only: boat at
last, letters from home, all well.

The ledger closes in 1931, when the light was made automatic and the last
keeper left the island with his books, his clock and a cat called Admiral.
\bye
"""

RUSSIAN_TITLE = "Журнал смотрителя маяка"
RUSSIAN_PARAGRAPHS = [
    "Почти сорок лет смотритель записывал погоду дважды в день, суда, проходившие "
    "мимо, и масло, которое сжигала лампа. Журнал хранится в областном архиве, где "
    "его отсканировали страница за страницей, чтобы историки могли читать его, не "
    "касаясь хрупкой бумаги.",
    "Каждая отсканированная страница сама по себе лишь картинка. Чтобы искать в ней, "
    "её пропустили через программу распознавания, и та добавила под картинкой "
    "скрытый слой текста. Читатель видит картинку и всё же может выделить слово, "
    "скопировать фразу или найти судно по названию.",
    "В марте 1897 года лодка привезла двенадцать бочек масла, новые стёкла для "
    "фонаря и барометр. В октябре шторм разбил причал, и девять дней ни одна лодка "
    "не могла подойти к острову.",
]


def run(argv, env=None, timeout=600):
    """(status, stdout bytes, stderr text); status None when it did not run."""
    try:
        done = subprocess.run(argv, env=env, capture_output=True, timeout=timeout)
        return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        return None, b"", "timeout"
    except FileNotFoundError:
        return None, b"", "not installed"


def must(argv, env=None):
    status, out, err = run(argv, env=env)
    if status != 0:
        raise RuntimeError("failed: %s\n%s" % (" ".join(argv), err[-2000:]))
    return out


def pdf_string(text):
    """A PDF literal string of text in KOI8-U, the encoding mutool create
    gives a simple font for "Cyrillic"."""
    out = "("
    for byte in text.encode("koi8-u"):
        if byte in b"()\\":
            out += "\\" + chr(byte)
        elif byte < 32 or byte > 126:
            out += "\\%03o" % byte
        else:
            out += chr(byte)
    return out + ")"


def typeset(folder):
    """Typesets the pages; returns {page name: PNG at SCAN_DPI}."""
    tex = os.path.join(folder, "english.tex")
    with open(tex, "w", encoding="ascii") as f:
        f.write(ENGLISH_TEX)
    env = dict(os.environ, TEXMFVAR=os.path.join(folder, "texmf-var"))
    must(["pdftex", "-interaction=batchmode", "-output-directory=" + folder, tex], env=env)

    lines = ["%%MediaBox 0 0 595 842",
             "%%Font F1 " + os.path.join(FONT_DIR, FONTS[0]) + " Cyrillic",
             "%%Font F2 " + os.path.join(FONT_DIR, FONTS[1]) + " Cyrillic",
             "BT /F2 16 Tf 72 760 Td %s Tj ET" % pdf_string(RUSSIAN_TITLE),
             "BT /F1 11 Tf 15 TL 72 728 Td"]
    for paragraph in RUSSIAN_PARAGRAPHS:
        # 66 characters of DejaVu Serif at 11 points stay inside 451 points.
        lines += [pdf_string(line) + " Tj T*" for line in textwrap.wrap(paragraph, 66)]
        lines.append("0 -6 Td")
    lines.append("ET")
    page = os.path.join(folder, "russian.txt")
    with open(page, "w", encoding="ascii") as f:
        f.write("\n".join(lines) + "\n")
    must(["mutool", "create", "-o", os.path.join(folder, "russian.pdf"), page])

    pages = {}
    for source, names in (("english", ["en1", "en2"]), ("russian", ["ru1"])):
        prefix = os.path.join(folder, source)
        scan(prefix + ".pdf", SCAN_DEVICES[source], prefix + "-%d.png")
        for number, name in enumerate(names, 1):
            pages[name] = "%s-%d.png" % (prefix, number)
            if not os.path.exists(pages[name]):
                raise RuntimeError("no page %d in %s.pdf" % (number, prefix))
    return pages


def scan(pdf, device, pattern):
    """Renders the pages of pdf as a scanner would give them: at SCAN_DPI,
    slightly turned, with specks of dust; PNG files named by pattern."""
    # BeginPage gets the page count, EndPage the count and the reason (2: the
    # device is closing, no page to emit); the specks are drawn in pixels.
    procedures = (
        "<< /BeginPage { pop 297 421 translate %g rotate -297 -421 translate }"
        " /EndPage { exch pop 2 ne { gsave initmatrix 72 %d div dup scale 1897 srand"
        " %d { rand 1654 mod rand 2339 mod 1 1 rectfill } repeat grestore true }"
        " { false } ifelse } >> setpagedevice" % (SCAN_SKEW, SCAN_DPI, SCAN_SPECKS))
    must(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=" + device,
          "-r%d" % SCAN_DPI, "-o", pattern, "-c", procedures, "-f", pdf])


def make_document(name, pages, folder):
    """OCRs one document from its page pictures into folder/name.pdf."""
    names, how, language = DOCUMENTS[name]
    output = os.path.join(folder, name + ".pdf")
    scratch = os.path.join(folder, name + ".work")
    os.makedirs(scratch, exist_ok=True)
    pictures = [pages[page] for page in names]
    if how.startswith("ocrmypdf"):
        scan = os.path.join(scratch, "scan.pdf")
        must(["img2pdf", "-o", scan] + pictures)
        options = {"ocrmypdf": [],
                   "ocrmypdf-pdf": ["--output-type", "pdf"],
                   "ocrmypdf-hocr": ["--pdf-renderer", "hocr"],
                   "ocrmypdf-hocr-pdf": ["--pdf-renderer", "hocr", "--output-type", "pdf"]}[how]
        must(["ocrmypdf", "-q", "--jobs", "1", "-l", language] + options + [scan, output],
             env=dict(OCR_ENV, TMPDIR=scratch))
    else:
        listing = os.path.join(scratch, "pages.txt")
        with open(listing, "w", encoding="utf-8") as f:
            f.write("\n".join(pictures) + "\n")
        base = os.path.join(scratch, "tesseract")
        must(["tesseract", listing, base, "-l", language, "pdf"], env=OCR_ENV)
        if how == "tesseract":
            shutil.move(base + ".pdf", output)
        else:
            must(["qpdf", "--object-streams=generate", base + ".pdf", output])
    shutil.rmtree(scratch)
    return output


def make_documents(folder, names, jobs):
    """Makes the named documents in folder; returns {name: path}."""
    os.makedirs(folder, exist_ok=True)
    typeset_folder = os.path.join(folder, "typeset")
    os.makedirs(typeset_folder, exist_ok=True)
    pages = typeset(typeset_folder)
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        futures = {name: pool.submit(make_document, name, pages, folder) for name in names}
        return {name: future.result() for name, future in futures.items()}


# ---------------------------------------------------------------------------
# Reading a document back

def words(text):
    """The multiset of lower-case runs of two or more letters or digits."""
    return collections.Counter(re.findall(r"[^\W_]{2,}", text.lower()))


def share_read(expected, found):
    """Percentage of the expected words (with repetition) that were found."""
    total = sum(expected.values())
    return 100.0 * sum((expected & found).values()) / total if total else 0.0


def page_count(path):
    out = must(["qpdf", "--show-npages", path])
    return int(out.decode().strip())


def read_back(path, language, folder):
    """The words Tesseract reads on the pages of path rendered at CHECK_DPI."""
    os.makedirs(folder, exist_ok=True)
    prefix = os.path.join(folder, "page")
    must(["pdftoppm", "-r", str(CHECK_DPI), "-gray", "-png", path, prefix])
    text = ""
    for picture in sorted(p for p in os.listdir(folder) if p.startswith("page")):
        text += must(["tesseract", os.path.join(folder, picture), "stdout", "-l", language],
                     env=OCR_ENV).decode("utf-8", "replace")
    return words(text)


def text_layer(path):
    return must(["pdftotext", "-enc", "UTF-8", path, "-"]).decode("utf-8", "replace")


def word_boxes(path):
    """[(text, xMin, yMin, xMax, yMax)] of pdftotext -bbox, page after page."""
    html = must(["pdftotext", "-enc", "UTF-8", "-bbox", path, "-"]).decode("utf-8", "replace")
    boxes = []
    for match in re.finditer(r'<word xMin="([-\d.]+)" yMin="([-\d.]+)" xMax="([-\d.]+)" '
                             r'yMax="([-\d.]+)">([^<]*)</word>', html):
        boxes.append((match.group(5),) + tuple(float(match.group(i)) for i in range(1, 5)))
    return boxes


def box_shift(before, after):
    """The largest move of any edge of the boxes of the words both cut alike
    (matched in order), None when fewer than MIN_SAME_WORDS % of before's are."""
    matcher = difflib.SequenceMatcher(None, [b[0] for b in before], [a[0] for a in after],
                                      autojunk=False)
    pairs = [(before[block.a + k], after[block.b + k])
             for block in matcher.get_matching_blocks() for k in range(block.size)]
    if before and 100.0 * len(pairs) / len(before) < MIN_SAME_WORDS:
        return None
    return max((abs(a[i] - b[i]) for a, b in pairs for i in range(1, 5)), default=0.0)


def letters(text):
    """The letters of a text, without white space, as a multiset."""
    return collections.Counter(c for c in text if not c.isspace())


def large_images(path):
    """Rows of pdfimages -list for images larger than 1 x 1. Soft masks are
    left out: the outline placeholder is a 1 x 1 image under a 256 x 256 one."""
    rows = []
    for line in must(["pdfimages", "-list", path]).decode("latin-1").splitlines()[2:]:
        fields = line.split()
        if len(fields) > 4 and fields[2] != "smask" and (int(fields[3]) > 1 or int(fields[4]) > 1):
            rows.append("page %s %sx%s %s" % (fields[0], fields[3], fields[4], fields[2]))
    return rows


class Input:
    """What a document gives before any run: its text layer and word boxes,
    and what OCR reads on its scan."""

    def __init__(self, name, path, folder):
        self.name = name
        self.path = path
        self.language = DOCUMENTS[name][2]
        self.pages = page_count(path)
        self.text = text_layer(path)
        self.words = words(self.text)
        self.boxes = word_boxes(path)
        self.check_status = run(["qpdf", "--check", path])[0]
        self.scan_read = share_read(self.words, read_back(path, self.language,
                                                          os.path.join(folder, "scan")))


# ---------------------------------------------------------------------------
# Running the executable and checking its output

Result = collections.namedtuple("Result", "document mode read shift delta allowance failures")


def quillane(exe, source, output, options, registry_text, folder):
    """Runs exe on source into output with its own registry file."""
    registry = os.path.join(folder, "none.reg")
    with open(registry, "w", encoding="ascii", newline="\n") as f:
        f.write(registry_text or "")
    env = dict(os.environ, QUILLANE_REGISTRY=registry)
    env.pop("QUILLANE_LOG", None)
    argv = [exe] + options + ["/in", source, "/out", output]
    status, _, err = run(argv, env=env)
    return status, err


def check(exe, flags, document, mode, folder):
    """Runs one document in one mode and checks the output."""
    options, registry_text = MODES[mode]
    os.makedirs(folder, exist_ok=True)
    failures = []
    plain = os.path.join(folder, "plain.pdf")
    shown = os.path.join(folder, "shown.pdf")
    status, err = quillane(exe, document.path, plain, options, registry_text, folder)
    if status != 0:
        failures.append("run without the flags: exit %s %s" %
                        (status, (err.strip().splitlines() or [""])[0]))
    status, err = quillane(exe, document.path, shown, options + flags, registry_text, folder)
    if status != 0 or not os.path.exists(shown):
        failures.append("run: exit %s %s" % (status, (err.strip().splitlines() or [""])[0]))
        return Result(document.name, mode, None, None, None, None, failures)

    read = share_read(document.words, read_back(shown, document.language,
                                                os.path.join(folder, "read")))
    if read < MIN_READ_BACK:
        failures.append("%.1f %% of the words read back (at least %.0f %%)" % (read, MIN_READ_BACK))
    shift = box_shift(document.boxes, word_boxes(shown))
    if shift is None:
        failures.append("pdftotext -bbox cuts fewer than %.0f %% of the input's words alike"
                        % MIN_SAME_WORDS)
    elif shift > MAX_BOX_SHIFT:
        failures.append("a word box moved %.2f points (at most %.1f)" % (shift, MAX_BOX_SHIFT))
    if letters(text_layer(shown)) != letters(document.text):
        failures.append("pdftotext gives another text than the input's")
    images = large_images(shown)
    if images:
        failures.append("images left: " + ", ".join(images[:3]))
    check_status = run(["qpdf", "--check", shown])[0]
    if check_status != 0 and check_status != document.check_status:
        failures.append("qpdf --check: exit %s" % check_status)
    delta = allowance = None
    if os.path.exists(plain):
        delta = os.path.getsize(shown) - os.path.getsize(plain)
        allowance = SIZE_ALLOWANCE + SIZE_PER_PAGE * document.pages
        if delta > allowance:
            failures.append("%d bytes larger than without the flags (at most %d)" %
                            (delta, allowance))
    return Result(document.name, mode, read, shift, delta, allowance, failures)


def print_table(documents, results):
    head = "%-22s %-9s %9s %10s %18s  %s" % ("document", "mode", "read %", "shift pt",
                                           "size delta KiB", "result")
    print(head)
    print("-" * len(head))
    for name, document in documents.items():
        print("%-22s %-9s %9.1f %10s %18s  %s" % (name, "scan", document.scan_read, "",
                                                 "", "(the input)"))
        for result in (r for r in results if r.document == name):
            read = "-" if result.read is None else "%.1f" % result.read
            shift = "-" if result.shift is None else "%.2f" % result.shift
            size = "-" if result.delta is None else "%.1f / %.0f" % (
                result.delta / 1024, result.allowance / 1024)
            print("%-22s %-9s %9s %10s %18s  %s" % (name, result.mode, read, shift, size,
                                                   "FAIL" if result.failures else "pass"))


def missing_tools():
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    missing += [os.path.join(FONT_DIR, font) for font in FONTS
                if not os.path.exists(os.path.join(FONT_DIR, font))]
    if shutil.which("tesseract"):
        languages = run(["tesseract", "--list-langs"])[1].decode().split()
        missing += ["tesseract data " + language for language in ("eng", "rus")
                    if language not in languages]
    return missing


def pick(text, known, what):
    names = [name for name in text.split(",") if name] if text else list(known)
    unknown = [name for name in names if name not in known]
    if unknown:
        sys.exit("unknown %s: %s (known: %s)" % (what, ", ".join(unknown), ", ".join(known)))
    return names


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", default=os.path.join(REPO, "build", "dev", "quillane"))
    parser.add_argument("--flags", default=DEFAULT_FLAGS,
                        help="options that turn the mode on (default: %(default)s)")
    parser.add_argument("--only", help="comma-separated documents (default: all)")
    parser.add_argument("--modes", help="comma-separated modes (default: all)")
    parser.add_argument("--documents", help="take the documents from this folder")
    parser.add_argument("--make-only", metavar="DIR", help="only make the documents in DIR")
    parser.add_argument("--keep", metavar="DIR", help="keep outputs and renderings in DIR")
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()
    names = pick(args.only, DOCUMENTS, "documents")
    modes = pick(args.modes, MODES, "modes")
    flags = shlex.split(args.flags)

    missing = missing_tools()
    if missing:
        print("not installed: " + " ".join(missing))
        return 1 if os.environ.get("CI") == "true" else 77
    started = time.monotonic()
    if args.make_only:
        for name, path in make_documents(os.path.abspath(args.make_only), names,
                                         args.jobs).items():
            print("%-22s %s" % (name, path))
        return 0
    exe = os.path.abspath(args.exe)
    if not os.access(exe, os.X_OK):
        print("not an executable: " + exe)
        return 1

    with tempfile.TemporaryDirectory(prefix="showtext-") as scratch:
        work = os.path.abspath(args.keep) if args.keep else scratch
        os.makedirs(work, exist_ok=True)
        if args.documents:
            paths = {name: os.path.join(os.path.abspath(args.documents), name + ".pdf")
                     for name in names}
        else:
            paths = make_documents(os.path.join(work, "documents"), names, args.jobs)
        made = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            inputs = {name: pool.submit(Input, name, paths[name], os.path.join(work, name))
                      for name in names}
            documents = {name: future.result() for name, future in inputs.items()}
            futures = [pool.submit(check, exe, flags, documents[name], mode,
                                   os.path.join(work, name, mode))
                       for name in names for mode in modes]
            results = [future.result() for future in futures]
    finished = time.monotonic()

    print("flags: %s, executable: %s" % (" ".join(flags) or "(none)", exe))
    print_table(documents, results)
    failed = [result for result in results if result.failures]
    for result in failed:
        for failure in result.failures:
            print("FAIL %s %s: %s" % (result.document, result.mode, failure))
    print("%d documents, %d pages, %d outputs, %d failed; %.0f s (documents %.0f s)" %
          (len(documents), sum(d.pages for d in documents.values()), len(results), len(failed),
           finished - started, made - started))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
