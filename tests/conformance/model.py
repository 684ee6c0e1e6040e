#!/usr/bin/env python3
"""An independent model of one Quillane run, written from the rules of the
tool rather than from its code, for byte-for-byte comparison.

    python3 model.py MODE INPUT TEMPLATE_DIR OUTPUT [LOG]

MODE is default, none or tgraybox. Exit status 0 with OUTPUT written, 2 for a
refused (encrypted) input, 1 for an error (its message on standard error).
The diagnostic lines of the run go to LOG when given. Standard library only.
"""

import os
import sys

WHITE_SPACE = frozenset(b"\x00\t\n\x0c\r ")
DELIMITERS = frozenset(b"%()/<>[]{}")
DIGITS = frozenset(b"0123456789")
KEY_FACTOR = 100000
INT32_MAX = 2**31 - 1
OUTPUT_LIMIT = 2**31


class RunError(Exception):
    """An error that ends the run; str() is the exact message."""


class Refused(Exception):
    """The encrypted-input refusal."""


def text_to_int(text):
    """Leading spaces, optional sign, decimal digits, 32-bit; None otherwise."""
    body = text.lstrip(b" ")
    sign = 1
    if body[:1] in (b"+", b"-"):
        sign = -1 if body[:1] == b"-" else 1
        body = body[1:]
    if not body or any(b not in DIGITS for b in body):
        return None
    value = sign * int(body)
    if value < -2**31 or value > INT32_MAX:
        return None
    return value


def convert(text):
    value = text_to_int(text)
    if value is None:
        raise RunError("'%s' is not a valid integer value" % text.decode("latin-1"))
    return value


def trim(text):
    start, end = 0, len(text)
    while start < end and text[start] <= 32:
        start += 1
    while end > start and text[end - 1] <= 32:
        end -= 1
    return text[start:end]


def truncating_divmod(key):
    number = abs(key) // KEY_FACTOR * (1 if key >= 0 else -1)
    return number, key - number * KEY_FACTOR


class Run:
    def __init__(self, data, log):
        self.data = bytearray(data)
        self.log = log

    def byte_at(self, p):
        if p < 0 or p >= len(self.data):
            raise RunError("IndexOutOfBounds")
        return self.data[p]

    # -- scanners ---------------------------------------------------------
    def read_integer(self, p):
        start = end = -1
        while p < len(self.data):
            c = self.byte_at(p)
            if start == -1 and c in DIGITS:
                start = p
            if start != -1 and c not in DIGITS:
                end = p
                break
            p += 1
        if start == -1:
            text = b""
        else:
            text = bytes(self.data[start:(end if end != -1 else len(self.data))])
        return convert(text), p

    def read_token(self, p):
        start = end = -1
        while p < len(self.data):
            c = self.byte_at(p)
            if start == -1 and c not in WHITE_SPACE:
                start = p
            if start != -1 and (c in WHITE_SPACE or c in DELIMITERS):
                end = p
                break
            p += 1
        if start == -1:
            return b"", p
        return bytes(self.data[start:(end if end != -1 else len(self.data))]), p

    def find_key_value(self, key, value, p):
        data = self.data
        depth = 0
        while p < len(data):
            c = self.byte_at(p)
            nxt = data[p + 1] if p + 1 < len(data) else None
            if c == 0x3C and nxt == 0x3C:
                depth += 1
                p += 1
            elif c == 0x3E and nxt == 0x3E:
                depth -= 1
                if depth == 0:
                    self.log("reached dict end @ %d" % p)
                    return value, p
                p += 1
            elif c == 0x2F:
                token, p = self.read_token(p + 1)
                if token == key:
                    return self.read_integer(p)
                # The byte that ended a non-matching token is examined next.
                continue
            p += 1
        return value, p

    def find_object_key_before(self, p):
        """(key, position of the "o" of "obj" or None)."""
        data = self.data
        state, generation, collected, steps, keyword = 0, -1, b"", 0, None
        while steps < 500:
            if state == 0:
                if p - 2 >= 0 and data[p - 2:p + 1] == b"obj":
                    state = 1
                    p -= 2
                    keyword = p
                    self.log("obj@%d" % p)
            else:
                c = self.byte_at(p)
                if c in (0x0D, 0x0A):
                    number = text_to_int(trim(collected))
                    number = -1 if number is None else number
                    self.log("Number: %d#%d" % (number, generation))
                    if number == -1 or generation == -1:
                        return -1, keyword
                    return number * KEY_FACTOR + generation, keyword
                if c in WHITE_SPACE:
                    if state == 2:
                        generation = text_to_int(trim(collected))
                        generation = -1 if generation is None else generation
                        state = 3
                        collected = b""
                elif state == 1:
                    state = 2
                    collected = b""
                collected = bytes((c,)) + collected
                if len(collected) > 50:
                    return -1, keyword
            steps += 1
            p -= 1
        return -1, keyword

    # -- trailer -----------------------------------------------------------
    def read_trailer(self):
        data = self.data
        size = len(data)
        p = size - 1
        while p > 0 and p > size - 100:
            if self.byte_at(p) == 0x66:
                break
            p -= 1
        self.log("(startxre)f @ %d" % p)
        previous, p = self.read_integer(p)
        p = previous
        # Comments at the section offset are skipped like white space.
        while p < size:
            c = data[p]
            if c in WHITE_SPACE:
                p += 1
            elif c == 0x25:
                while p < size and data[p] not in (0x0D, 0x0A):
                    p += 1
            else:
                break
        token, p = self.read_token(p)
        self.log("xref header: '%s'" % token.decode("latin-1"))
        if token == b"xref":
            is_stream = False
        else:
            limit = size
            for word in (b"stream", b"endobj"):
                found = data.find(word, previous)
                if found != -1:
                    limit = min(limit, found)
            is_stream = (token != b"" and all(b in DIGITS for b in token)
                         and data.find(b"/XRef", previous, limit) != -1)
            if not is_stream:
                raise RunError("No cross-reference section found at offset %d; "
                               "the file may be damaged." % previous)
        while p < size and data[p] != 0x3C:
            p += 1
        start = p
        trailer_size, _ = self.find_key_value(b"Size", 0, start)
        encrypt, _ = self.find_key_value(b"Encrypt", -1, start)
        if encrypt != -1:
            self.log("Encrypt obj: %d" % encrypt)
            raise Refused()
        root_number, p = self.find_key_value(b"Root", 0, start)
        root_generation, p = self.read_integer(p)
        root_token, p = self.read_token(p)
        root = b"%d %d %s" % (root_number, root_generation, root_token)
        info = None
        info_number, p = self.find_key_value(b"Info", -1, start)
        if info_number != -1:
            info_generation, p = self.read_integer(p)
            info_token, p = self.read_token(p)
            if info_token == b"R":
                info = b"%d %d R" % (info_number, info_generation)
        return previous, is_stream, trailer_size, root, info

    # -- image walk --------------------------------------------------------
    def walk(self, rename):
        data = self.data
        keys = []
        p = 0
        in_name = want_value = False
        name_start = [0, 0]
        while p < len(data):
            c = self.byte_at(p)
            if not in_name:
                if c == 0x2F:
                    in_name = True
                    name_start[1 if want_value else 0] = p + 1
            elif not want_value:
                if c in WHITE_SPACE or c == 0x2F:
                    in_name = False
                    if p - name_start[0] == 7 and data[name_start[0]:p] == b"Subtype":
                        want_value = True
                    if c == 0x2F:
                        p -= 1
                elif c in DELIMITERS:
                    in_name = want_value = False
            else:
                if c in WHITE_SPACE or c in DELIMITERS:
                    if p - name_start[1] < 10 and data[name_start[1]:p] == b"Image":
                        self.hit(p, name_start[1], rename, keys)
                    in_name = want_value = False
            p += 1
        return keys

    def hit(self, p, value_start, rename, keys):
        self.log("Found image @ %d" % p)
        if rename:
            self.data[value_start:value_start + 5] = b"Vexlo"
            return
        key, keyword = self.find_object_key_before(p)
        if key == -1:
            return
        # A hit inside stream data belongs to a content or object stream.
        if self.data.find(b"stream", keyword + 3, p) != -1:
            return
        self.log("object: %d" % key)
        keys.append(key)


def read_template(folder, name):
    path = os.path.join(folder, name)
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as error:
        raise RunError('Cannot open file "%s". %s' % (os.path.abspath(path), error.strerror))


def write_update(data, keys, mode, templates, previous, is_stream, trailer_size, root, info):
    body = read_template(templates, "otherimg.dat")
    extra = None
    if mode == "tgraybox":
        body = read_template(templates, "othertimg.dat")
        extra = read_template(templates, "othertmsk.dat")
        first_free = trailer_size + 1 if is_stream else trailer_size
        extra_number = 9999 if first_free <= 9999 else first_free
        key_text = b"%d 1" % extra_number
        body = body.replace(b"${EXTRAOBJNR}", key_text)
        extra = extra.replace(b"${EXTRAOBJNR}", key_text)
    out = bytearray(data)
    entries = []
    for key in keys:
        number, generation = truncating_divmod(key)
        entries.append((number, generation, len(out)))
        out += b"%d %d obj\n" % (number, generation) + body + b"endobj\n"
    size = trailer_size + 1 if is_stream else trailer_size
    if extra is not None:
        entries.append((extra_number, 1, len(out)))
        out += extra
        size = max(size, extra_number + 1)
    section = len(out)
    info_line = b"/Info " + info + b"\r\n" if info is not None else b""
    if not is_stream:
        out += b"xref\r\n"
        if not entries:
            out += b"0 1\r\n0000000000 65535 f\r\n"
        for number, generation, position in entries:
            out += b"%d 1\r\n%010d %05d n\r\n" % (number, position, generation)
        out += (b"trailer\r\n<<\r\n/Prev %d\r\n/Root %s\r\n/Size %d\r\n" % (previous, root, size)
                + info_line + b">>\r\n")
    else:
        rows = entries + [(trailer_size, 0, section)]
        index = b"".join(b"%d 1 " % number for number, _, _ in entries)
        out += (b"%d 0 obj\r\n<<\r\n/Type/XRef\r\n/W[1 4 2]\r\n/Root %s\r\n/Prev %d\r\n"
                b"/Length %d\r\n/Size %d\r\n/Index [%s%d 1]\r\n"
                % (trailer_size, root, previous, 7 * len(rows), size, index, trailer_size)
                + info_line + b">>\r\nstream\r\n")
        for _, generation, position in rows:
            out += bytes((1,)) + position.to_bytes(4, "big") + (generation & 0xFFFF).to_bytes(2, "big")
        out += b"endstream\r\nendobj\r\n"
    out += b"startxref\r\n%d\r\n%%%%EOF\r\n" % section
    if len(out) >= OUTPUT_LIMIT:
        raise RunError("The output would be too large (2 GiB or more).")
    return bytes(out)


def model_run(data, mode, templates, log=lambda line: None):
    """("ok", output bytes) | ("refused", None) | ("error", message)."""
    run = Run(data, log)
    try:
        if mode == "none":
            run.walk(rename=True)
            return "ok", bytes(run.data)
        previous, is_stream, trailer_size, root, info = run.read_trailer()
        keys = run.walk(rename=False)
        return "ok", write_update(data, keys, mode, templates, previous, is_stream,
                                  trailer_size, root, info)
    except Refused:
        return "refused", None
    except RunError as error:
        return "error", str(error)


def main(argv):
    if len(argv) not in (5, 6):
        sys.stderr.write(__doc__)
        return 64
    mode, source, templates, target = argv[1:5]
    with open(source, "rb") as f:
        data = f.read()
    lines = []
    outcome, value = model_run(data, mode, templates, lines.append)
    if len(argv) == 6:
        with open(argv[5], "w", encoding="latin-1") as f:
            f.writelines(line + "\n" for line in lines)
    if outcome == "ok":
        with open(target, "wb") as f:
            f.write(value)
        return 0
    if outcome == "refused":
        return 2
    sys.stderr.write(value + "\n")
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
