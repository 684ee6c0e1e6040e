#include "pdf/content/content_stream.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

#include "base/byte_classes.h"
#include "pdf/syntax/lexer.h"

namespace quillane {

namespace {

// Tokens examined after a candidate "EI" before it is given up: enough for
// the operands of any ordinary operator (a TJ array of a line of text), and a
// bound on the work per candidate in data full of "EI" bytes.
constexpr int kTailTokens = 256;
// The bytes all tail checks of one stream may read: data in which every "EI"
// is followed by white space and a long token would otherwise take time
// quadratic in its size. A stream that needs more does not read.
constexpr std::size_t kTailBudgetPerByte = 8;
constexpr std::size_t kTailBudgetBase = 1 << 16;
// An image size beyond any data.
constexpr std::size_t kTooLarge = static_cast<std::size_t>(-1);

// The operators of ISO 32000-1, Annex A, sorted bytewise for binary search.
constexpr std::array<std::string_view, 73> kOperators = {
    "\"", "'",  "B",  "B*", "BDC", "BI", "BMC", "BT", "BX",  "CS", "DP", "Do", "EI",  "EMC", "ET",
    "EX", "F",  "G",  "ID", "J",   "K",  "M",   "MP", "Q",   "RG", "S",  "SC", "SCN", "T*",  "TD",
    "TJ", "TL", "Tc", "Td", "Tf",  "Tj", "Tm",  "Tr", "Ts",  "Tw", "Tz", "W",  "W*",  "b",   "b*",
    "c",  "cm", "cs", "d",  "d0",  "d1", "f",   "f*", "g",   "gs", "h",  "i",  "j",   "k",   "l",
    "m",  "n",  "q",  "re", "rg",  "ri", "s",   "sc", "scn", "sh", "v",  "w",  "y",
};

// True for the operators of ISO 32000-1, Annex A (BI, ID and EI included).
bool IsContentOperator(std::string_view keyword) {
  return std::binary_search(kOperators.begin(), kOperators.end(), keyword);
}

// The value of an inline-image entry given in full or abbreviated.
const PdfObject* Entry(const PdfObject& dictionary, std::string_view abbreviation,
                       std::string_view full) {
  const PdfObject* value = dictionary.Find(abbreviation);
  return value != nullptr ? value : dictionary.Find(full);
}

std::optional<std::int64_t> PositiveInteger(const PdfObject* value) {
  if (value == nullptr) return std::nullopt;
  const std::optional<std::int64_t> number = value->Integer();
  if (!number || *number <= 0) return std::nullopt;
  return number;
}

// Colour components of an inline image's colour space, or nothing for one
// named in the resources (its size is unknown here).
std::optional<std::int64_t> Components(const PdfObject& space) {
  const PdfObject* name = &space;
  if (space.Kind == PdfObject::Type::kArray) {
    if (space.Items.empty()) return std::nullopt;
    name = &space.Items[0];
    if (name->IsName("I") || name->IsName("Indexed")) return 1;
    return std::nullopt;
  }
  if (name->IsName("G") || name->IsName("DeviceGray")) return 1;
  if (name->IsName("RGB") || name->IsName("DeviceRGB")) return 3;
  if (name->IsName("CMYK") || name->IsName("DeviceCMYK")) return 4;
  return std::nullopt;
}

// The filter names of /F or /Filter, first to be applied first; nothing when
// the entry is neither a name, an array of names nor null.
std::optional<std::vector<Text>> Filters(const PdfObject* filter) {
  std::vector<Text> names;
  if (filter == nullptr || filter->Kind == PdfObject::Type::kNull) return names;
  if (filter->Kind == PdfObject::Type::kName) {
    names.push_back(filter->Value);
    return names;
  }
  if (filter->Kind != PdfObject::Type::kArray) return std::nullopt;
  for (const PdfObject& item : filter->Items) {
    if (item.Kind != PdfObject::Type::kName) return std::nullopt;
    names.push_back(item.Value);
  }
  return names;
}

// The decoded bytes as the reader moves over them: a window [Base, End) that
// grows at its end from the input and lets go of what lies before the point
// the reader still needs. Over bytes in memory it is all of them at once.
class ContentWindow {
 public:
  explicit ContentWindow(std::string_view all) : view_(all), eof_(true) {}
  explicit ContentWindow(const ContentInput& input) : input_(&input) {}

  std::size_t Base() const { return base_; }
  std::size_t End() const { return base_ + view_.size(); }
  std::string_view View() const { return view_; }
  // The input has ended: End() is the end of the data.
  bool Eof() const { return eof_; }
  // A Grow failed because it would hold more than kMaxHeldContent.
  bool Overfull() const { return overfull_; }
  // REQUIRES: Base() <= at < End().
  char At(std::size_t at) const { return view_[at - base_]; }
  // [from, to) of the held bytes. REQUIRES: Base() <= from <= to <= End().
  std::string_view Bytes(std::size_t from, std::size_t to) const {
    return view_.substr(from - base_, to - from);
  }

  // Reads the next piece of the input, after letting go of the bytes before
  // `keep`. False at the end of the data, or when [keep, End()) and a piece
  // would hold more than kMaxHeldContent (Overfull).
  // REQUIRES: Base() <= keep <= End().
  bool Grow(std::size_t keep) {
    if (eof_ || input_ == nullptr) return false;
    const std::size_t drop = keep - base_;
    if (drop > 0) {
      buffer_.erase(0, drop);
      base_ = keep;
    }
    if (buffer_.size() + kPiece > kMaxHeldContent + kPiece) {
      overfull_ = true;
      return false;
    }
    const std::size_t held = buffer_.size();
    buffer_.resize(held + kPiece);
    const std::size_t got = (*input_)(buffer_.data() + held, kPiece);
    buffer_.resize(held + got);
    view_ = buffer_;
    if (got == 0) eof_ = true;
    return got > 0;
  }

 private:
  // Decoded bytes are asked for in pieces of this size.
  static constexpr std::size_t kPiece = std::size_t{64} << 10;

  const ContentInput* input_ = nullptr;
  Text buffer_;
  std::size_t base_ = 0;
  std::string_view view_;
  bool eof_ = false;
  bool overfull_ = false;
};

class ContentReader {
 public:
  ContentReader(ContentWindow& window, const ContentEditing& editing)
      : window_(window), editing_(editing) {}

  ContentReading Read() {
    ContentReading reading;
    // The open arrays and dictionaries; for a dictionary, whether a key is due.
    struct Frame {
      bool Dictionary;
      bool WantKey;
    };
    std::vector<Frame> frames;
    int compatibility = 0;  // depth of BX ... EX sections
    bool operatorRead = false;
    // Where the operation being read begins: its first token, or
    // kNoOperation before it has one. A plain value: held in an optional,
    // GCC at -O3 warns that it may be read uninitialized.
    constexpr std::size_t kNoOperation = std::numeric_limits<std::size_t>::max();
    std::size_t operationStart = kNoOperation;
    const auto fail = [&reading, this](std::size_t at) {
      reading.Failure = at;
      reading.InlineImages.clear();
      reading.BytesExamined = Examined();
      return reading;
    };
    for (;;) {
      mark_ = operationStart != kNoOperation ? operationStart : position_;
      const Token token = NextToken();
      if (operationStart == kNoOperation && token.Kind != TokenKind::kEnd) {
        operationStart = token.Start;
      }
      // A value completes a dictionary entry; a key of a dictionary must be a
      // name.
      const bool wantKey = !frames.empty() && frames.back().Dictionary && frames.back().WantKey;
      switch (token.Kind) {
        case TokenKind::kEnd:
          if (!frames.empty()) return fail(token.Start);
          if (!skipping_) Emit(window_.End());
          reading.Complete = true;
          reading.BytesExamined = Examined();
          return reading;
        case TokenKind::kError:
          return fail(token.Start);
        case TokenKind::kName:
          if (wantKey) {
            frames.back().WantKey = false;
            continue;
          }
          break;
        case TokenKind::kNumber:
        case TokenKind::kString:
        case TokenKind::kHexString:
          if (wantKey) return fail(token.Start);
          break;
        case TokenKind::kArrayOpen:
        case TokenKind::kDictionaryOpen:
          if (wantKey || frames.size() >= 64) return fail(token.Start);
          frames.push_back({token.Kind == TokenKind::kDictionaryOpen, true});
          continue;
        case TokenKind::kArrayClose:
          if (frames.empty() || frames.back().Dictionary) return fail(token.Start);
          frames.pop_back();
          break;
        case TokenKind::kDictionaryClose:
          if (!wantKey) return fail(token.Start);
          frames.pop_back();
          break;
        case TokenKind::kKeyword: {
          const std::string_view word = window_.Bytes(token.Start, token.End);
          if (word == "true" || word == "false" || word == "null") {
            if (wantKey) return fail(token.Start);
            break;
          }
          // Operators stand between operands, never inside an array or a
          // dictionary.
          if (!frames.empty()) return fail(token.Start);
          if (!operatorRead) {
            operatorRead = true;
            reading.GlyphDescription = word == "d0" || word == "d1";
          }
          if (word == "BI") {
            const std::optional<std::size_t> end = ReadInlineImage(token.Start);
            if (!end) return fail(token.Start);
            reading.InlineImages.push_back({token.Start, *end});
            position_ = *end;
          } else if (word == "BX") {
            ++compatibility;
          } else if (word == "EX" && compatibility > 0) {
            --compatibility;
          } else if (word == "ID" || word == "EI" ||
                     (!IsContentOperator(word) && compatibility == 0)) {
            return fail(token.Start);
          } else if (editing_.EditOperation) {
            const ContentOperation operation{word, window_.Bytes(operationStart, token.End),
                                             operationStart};
            if (std::optional<Text> edited = editing_.EditOperation(operation)) {
              Emit(operationStart);
              Write(*edited);
              emitted_ = token.End;
              ++reading.EditedOperations;
            }
          }
          operationStart = kNoOperation;
          continue;
        }
        default:
          return fail(token.Start);
      }
      // A value was read: inside a dictionary the next token is a key again.
      if (!frames.empty() && frames.back().Dictionary) frames.back().WantKey = true;
    }
  }

 private:
  // The bytes the main reading reached and those the tail checks spent.
  std::size_t Examined() const { return position_ + tailSpent_; }

  // Writes the held bytes [emitted_, to) to the output.
  void Emit(std::size_t to) {
    if (editing_.Output && to > emitted_) editing_.Output(window_.Bytes(emitted_, to));
    emitted_ = std::max(emitted_, to);
  }
  void Write(std::string_view bytes) {
    if (editing_.Output) editing_.Output(bytes);
  }

  // Grows the window, letting go of what lies before the mark: the bytes
  // before it are written first (unless an image being replaced covers
  // them, whose bytes are never written).
  bool Grow() {
    if (!skipping_) Emit(mark_);
    return window_.Grow(skipping_ ? mark_ : std::min(mark_, emitted_));
  }

  // Makes [from, from + count) held, growing the window as needed; false
  // when the data ends before.
  bool Ensure(std::size_t from, std::size_t count) {
    while (window_.End() < from + count) {
      if (!Grow()) return false;
    }
    return true;
  }

  // The token at `position_`, which it leaves behind the token. A token that
  // runs into the end of the held bytes is read again once more are held;
  // one that cannot be held is an error token.
  Token NextToken() {
    for (;;) {
      Lexer lexer(window_.View(), position_ - window_.Base());
      Token token = lexer.Next();
      if (!lexer.ReachedEnd() || window_.Eof()) {
        token.Start += window_.Base();
        token.End += window_.Base();
        position_ = window_.Base() + lexer.Position();
        return token;
      }
      if (!Grow() && !window_.Eof()) return {TokenKind::kError, position_, position_};
    }
  }

  // One direct object at `position_`, as NextToken reads a token.
  std::optional<PdfObject> NextObject() {
    for (;;) {
      Lexer lexer(window_.View(), position_ - window_.Base());
      std::optional<PdfObject> object = ReadObject(lexer, false);
      if (!lexer.ReachedEnd() || window_.Eof()) {
        position_ = window_.Base() + lexer.Position();
        return object;
      }
      if (!Grow() && !window_.Eof()) return std::nullopt;
    }
  }

  // Reads the dictionary, ID, the data and EI of the inline image whose BI
  // begins at `begin` and was just read; returns one past its "EI". A
  // replaced image's placeholder is written at once: its bytes are then
  // never held longer than the reading needs them.
  std::optional<std::size_t> ReadInlineImage(std::size_t begin) {
    Emit(begin);
    if (editing_.ReplaceInlineImages) {
      Write(editing_.PlaceholderBefore + PlaceholderInlineImage(editing_.Gray) +
            editing_.PlaceholderAfter);
      skipping_ = true;
    }
    const std::optional<std::size_t> end = ReadInlineImageBody(begin);
    skipping_ = false;
    if (end && editing_.ReplaceInlineImages) emitted_ = *end;
    return end;
  }

  std::optional<std::size_t> ReadInlineImageBody(std::size_t begin) {
    PdfObject dictionary;
    dictionary.Kind = PdfObject::Type::kDictionary;
    for (;;) {
      mark_ = skipping_ ? position_ : begin;
      const Token key = NextToken();
      if (key.Kind == TokenKind::kKeyword && window_.Bytes(key.Start, key.End) == "ID") break;
      if (key.Kind != TokenKind::kName) return std::nullopt;
      const Text name = DecodeName(window_.Bytes(key.Start + 1, key.End));
      std::optional<PdfObject> value = NextObject();
      if (!value) return std::nullopt;
      dictionary.Keys.push_back(name);
      dictionary.KeyStarts.push_back(key.Start);
      dictionary.Items.push_back(std::move(*value));
    }
    // "ID" and one white-space byte; the data begins right after it.
    const std::size_t id = position_;
    if (!Ensure(id, 1) || !IsWhiteSpace(window_.At(id))) return std::nullopt;
    const std::size_t dataStart = id + 1;

    const std::optional<std::vector<Text>> filters = Filters(Entry(dictionary, "F", "Filter"));
    if (!filters) return std::nullopt;
    if (filters->empty()) {
      const std::optional<std::size_t> size = UnfilteredSize(dictionary);
      if (size) {
        if (!Pass(dataStart, *size)) return std::nullopt;
        return EiAfter(dataStart + *size);
      }
    }
    // A PDF 2.0 length that leads to EI is the data's end; the data is held
    // meanwhile, for the search that follows when it does not.
    const std::optional<std::int64_t> length = PositiveInteger(Entry(dictionary, "L", "Length"));
    mark_ = skipping_ ? dataStart : begin;
    if (length && static_cast<std::uint64_t>(*length) < kMaxHeldContent / 2 &&
        Ensure(dataStart, static_cast<std::size_t>(*length))) {
      const std::optional<std::size_t> end = EiAfter(dataStart + static_cast<std::size_t>(*length));
      if (end) return end;
    }
    std::size_t searchFrom = dataStart;
    if (!filters->empty()) {
      // ASCII data ends at its own end-of-data marker, and may hold "EI" and
      // white space before it.
      const Text& first = filters->front();
      std::string_view marker;
      if (first == "AHx" || first == "ASCIIHexDecode") marker = ">";
      if (first == "A85" || first == "ASCII85Decode") marker = "~>";
      if (!marker.empty()) {
        const std::optional<std::size_t> at = Find(marker, dataStart);
        if (!at) return std::nullopt;
        searchFrom = *at + marker.size();
      }
    }
    return SearchEi(searchFrom);
  }

  // Moves over the `count` data bytes from `from`, which need not be held
  // all at once; false when the data ends before them.
  bool Pass(std::size_t from, std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() - from) return false;
    const std::size_t to = from + count;
    while (window_.End() < to) {
      mark_ = std::max(mark_, std::min(to, window_.End()));
      if (!Grow()) return false;
    }
    mark_ = to;
    return true;
  }

  // The first occurrence of `pattern` at or after `from`, the window grown
  // as needed; what lies before a candidate is let go.
  std::optional<std::size_t> Find(std::string_view pattern, std::size_t from) {
    for (;;) {
      if (from < window_.End()) {
        const std::size_t at = window_.View().find(pattern, from - window_.Base());
        if (at != std::string_view::npos) return window_.Base() + at;
      }
      // A pattern cut at the end of the held bytes is found after the next
      // piece: its first bytes are kept.
      const std::size_t keep =
          window_.End() >= pattern.size() - 1 ? window_.End() - (pattern.size() - 1) : 0;
      from = std::max(from, keep);
      mark_ = from;
      if (!Grow()) return std::nullopt;
    }
  }

  // H * ceil(W * BPC * components / 8), or nothing when the dictionary does
  // not give it; kTooLarge for more than any data holds.
  static std::optional<std::size_t> UnfilteredSize(const PdfObject& dictionary) {
    const std::optional<std::int64_t> width = PositiveInteger(Entry(dictionary, "W", "Width"));
    const std::optional<std::int64_t> height = PositiveInteger(Entry(dictionary, "H", "Height"));
    if (!width || !height) return std::nullopt;
    const PdfObject* mask = Entry(dictionary, "IM", "ImageMask");
    const PdfObject* bpcEntry = Entry(dictionary, "BPC", "BitsPerComponent");
    std::optional<std::int64_t> bits = PositiveInteger(bpcEntry);
    std::optional<std::int64_t> components;
    if (mask != nullptr && mask->Kind == PdfObject::Type::kBoolean && mask->Value == "true") {
      if (bpcEntry != nullptr && bits != 1) return std::nullopt;
      bits = 1;
      components = 1;
    } else {
      const PdfObject* space = Entry(dictionary, "CS", "ColorSpace");
      if (space == nullptr) return std::nullopt;
      components = Components(*space);
    }
    if (!bits || !components) return std::nullopt;
    if (*bits != 1 && *bits != 2 && *bits != 4 && *bits != 8 && *bits != 16) return std::nullopt;
    // Checked before each product, so that none passes 2^63.
    constexpr std::int64_t kLimit = std::int64_t{1} << 40;
    if (*width > kLimit || *height > kLimit) return kTooLarge;
    const std::int64_t rowBytes = (*width * *bits * *components + 7) / 8;
    if (rowBytes > kLimit / *height) return kTooLarge;
    return static_cast<std::size_t>(rowBytes * *height);
  }

  // After the data ending at `dataEnd`: white space, then "EI" as a token of
  // its own. Returns one past the "EI".
  std::optional<std::size_t> EiAfter(std::size_t dataEnd) {
    std::size_t p = dataEnd;
    mark_ = skipping_ ? p : mark_;
    while (Ensure(p, 1) && IsWhiteSpace(window_.At(p))) ++p;
    if (!Ensure(p, 2) || window_.Bytes(p, p + 2) != "EI") return std::nullopt;
    p += 2;
    if (Ensure(p, 1) && IsRegular(window_.At(p))) return std::nullopt;
    return p;
  }

  // The first "EI" at or after `from` that is followed by white space and
  // then by the end of the data or by operands and an operator.
  std::optional<std::size_t> SearchEi(std::size_t from) {
    for (std::optional<std::size_t> at = Find("EI", from); at; at = Find("EI", *at + 1)) {
      const std::size_t after = *at + 2;
      mark_ = *at;
      if (!Ensure(after, 1)) return after;  // the data ends right after it
      if (!IsWhiteSpace(window_.At(after))) continue;
      std::size_t spent = 0;
      const std::optional<bool> reads = TailReads(after, spent);
      tailSpent_ += spent;
      // The look-aheads may read 8 times the data so far and 64 KiB.
      if (!reads || tailSpent_ > kTailBudgetPerByte * window_.End() + kTailBudgetBase) {
        return std::nullopt;
      }
      if (*reads) return after;
    }
    return std::nullopt;
  }

  // True when the bytes from `from` read as operands followed by an operator
  // (other than ID and EI), or as nothing at all, within kTailTokens tokens;
  // nothing when they cannot be held. `spent`: the bytes it went over.
  std::optional<bool> TailReads(std::size_t from, std::size_t& spent) {
    for (;;) {
      Lexer tail(window_.View(), from - window_.Base());
      const bool reads = TailReadsIn(tail);
      if (!tail.ReachedEnd() || window_.Eof()) {
        spent = window_.Base() + tail.Position() - from;
        return reads;
      }
      if (!Grow() && !window_.Eof()) return std::nullopt;
    }
  }

  static bool TailReadsIn(Lexer& tail) {
    int depth = 0;
    for (int count = 0; count < kTailTokens; ++count) {
      const Token token = tail.Next();
      switch (token.Kind) {
        case TokenKind::kEnd:
          return count == 0;
        case TokenKind::kError:
          return false;
        case TokenKind::kArrayOpen:
        case TokenKind::kDictionaryOpen:
          ++depth;
          break;
        case TokenKind::kArrayClose:
        case TokenKind::kDictionaryClose:
          if (--depth < 0) return false;
          break;
        case TokenKind::kKeyword: {
          const std::string_view word = tail.Bytes(token);
          if (word == "true" || word == "false" || word == "null") break;
          return depth == 0 && word != "ID" && word != "EI" && IsContentOperator(word);
        }
        default:
          break;
      }
    }
    return false;
  }

  ContentWindow& window_;
  const ContentEditing& editing_;
  // Where the next token is read.
  std::size_t position_ = 0;
  // The first byte the reading still needs: the window keeps it and what
  // follows.
  std::size_t mark_ = 0;
  // The output holds every byte before this one, or their replacement.
  std::size_t emitted_ = 0;
  // An inline image being replaced is read: its bytes are never written.
  bool skipping_ = false;
  std::size_t tailSpent_ = 0;
};

}  // namespace

ContentReading ReadContent(const ContentInput& input, const ContentEditing& editing) {
  ContentWindow window(input);
  return ContentReader(window, editing).Read();
}

ContentReading ReadContentStream(std::string_view data) {
  ContentWindow window(data);
  const ContentEditing onlyRead;
  return ContentReader(window, onlyRead).Read();
}

Text PlaceholderInlineImage(std::uint8_t gray) {
  Text placeholder = "BI /W 1 /H 1 /CS /G /BPC 8 ID ";
  placeholder += static_cast<char>(gray);
  placeholder += " EI";
  return placeholder;
}

Text ReplaceInlineImages(std::string_view data, const std::vector<InlineImage>& images,
                         std::uint8_t gray) {
  const Text placeholder = PlaceholderInlineImage(gray);
  Text result;
  result.reserve(data.size());
  std::size_t kept = 0;
  for (const InlineImage& image : images) {
    result.append(data.substr(kept, image.Begin - kept));
    result += placeholder;
    kept = image.End;
  }
  result.append(data.substr(kept));
  return result;
}

}  // namespace quillane
