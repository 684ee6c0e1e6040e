#include "pdf/content/content_stream.h"

#include <algorithm>
#include <array>
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

class ContentReader {
 public:
  explicit ContentReader(std::string_view data)
      : data_(data),
        lexer_(data),
        initialTailBudget_(kTailBudgetPerByte * data.size() + kTailBudgetBase),
        tailBudget_(initialTailBudget_) {}

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
    const auto fail = [&reading, this](std::size_t at) {
      reading.Failure = at;
      reading.InlineImages.clear();
      reading.BytesExamined = Examined();
      return reading;
    };
    for (;;) {
      const Token token = lexer_.Next();
      // A value completes a dictionary entry; a key of a dictionary must be a
      // name.
      const bool wantKey = !frames.empty() && frames.back().Dictionary && frames.back().WantKey;
      switch (token.Kind) {
        case TokenKind::kEnd:
          if (!frames.empty()) return fail(token.Start);
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
          const std::string_view word = lexer_.Bytes(token);
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
            const std::optional<std::size_t> end = ReadInlineImage();
            if (!end) return fail(token.Start);
            reading.InlineImages.push_back({token.Start, *end});
            lexer_.SetPosition(*end);
          } else if (word == "BX") {
            ++compatibility;
          } else if (word == "EX" && compatibility > 0) {
            --compatibility;
          } else if (word == "ID" || word == "EI" ||
                     (!IsContentOperator(word) && compatibility == 0)) {
            return fail(token.Start);
          }
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
  // Reads the dictionary, ID, the data and EI of the inline image whose BI
  // was just read; returns one past its "EI".
  std::optional<std::size_t> ReadInlineImage() {
    PdfObject dictionary;
    dictionary.Kind = PdfObject::Type::kDictionary;
    for (;;) {
      const Token key = lexer_.Next();
      if (key.Kind == TokenKind::kKeyword && lexer_.Bytes(key) == "ID") break;
      if (key.Kind != TokenKind::kName) return std::nullopt;
      std::optional<PdfObject> value = ReadObject(lexer_, false);
      if (!value) return std::nullopt;
      dictionary.Keys.push_back(DecodeName(lexer_.Bytes(key).substr(1)));
      dictionary.KeyStarts.push_back(key.Start);
      dictionary.Items.push_back(std::move(*value));
    }
    // "ID" and one white-space byte; the data begins right after it.
    const std::size_t id = lexer_.Position();
    if (id >= data_.size() || !IsWhiteSpace(data_[id])) return std::nullopt;
    const std::size_t dataStart = id + 1;

    const std::optional<std::vector<Text>> filters = Filters(Entry(dictionary, "F", "Filter"));
    if (!filters) return std::nullopt;
    if (filters->empty()) {
      const std::optional<std::size_t> size = UnfilteredSize(dictionary);
      if (size) {
        if (*size > data_.size() - dataStart) return std::nullopt;
        return EiAfter(dataStart + *size);
      }
    }
    // A PDF 2.0 length that leads to EI is the data's end.
    const std::optional<std::int64_t> length = PositiveInteger(Entry(dictionary, "L", "Length"));
    if (length && static_cast<std::uint64_t>(*length) <= data_.size() - dataStart) {
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
        const std::size_t at = data_.find(marker, dataStart);
        if (at == std::string_view::npos) return std::nullopt;
        searchFrom = at + marker.size();
      }
    }
    return SearchEi(searchFrom);
  }

  // H * ceil(W * BPC * components / 8), or nothing when the dictionary does
  // not give it; kTooLarge for more than the data holds.
  std::optional<std::size_t> UnfilteredSize(const PdfObject& dictionary) const {
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
    // An image larger than the data cannot be in it; checking that first
    // keeps every product below 2^63.
    const auto available = static_cast<std::int64_t>(data_.size());
    if (*width > available * 8 || *height > available) return kTooLarge;
    const std::int64_t rowBytes = (*width * *bits * *components + 7) / 8;
    if (rowBytes > available / *height) return kTooLarge;
    return static_cast<std::size_t>(rowBytes * *height);
  }

  // After the data ending at `dataEnd`: white space, then "EI" as a token of
  // its own. Returns one past the "EI".
  std::optional<std::size_t> EiAfter(std::size_t dataEnd) const {
    std::size_t p = dataEnd;
    while (p < data_.size() && IsWhiteSpace(data_[p])) ++p;
    if (data_.substr(p, 2) != "EI") return std::nullopt;
    p += 2;
    if (p < data_.size() && IsRegular(data_[p])) return std::nullopt;
    return p;
  }

  // The first "EI" at or after `from` that is followed by white space and
  // then by the end of the data or by operands and an operator.
  std::optional<std::size_t> SearchEi(std::size_t from) {
    for (std::size_t at = data_.find("EI", from); at != std::string_view::npos;
         at = data_.find("EI", at + 1)) {
      const std::size_t after = at + 2;
      if (after == data_.size()) return after;
      if (!IsWhiteSpace(data_[after])) continue;
      Lexer tail(data_, after);
      const bool reads = TailReads(tail);
      const std::size_t spent = tail.Position() - after;
      if (spent > tailBudget_) return std::nullopt;
      tailBudget_ -= spent;
      if (reads) return after;
    }
    return std::nullopt;
  }

  // True when the bytes from the lexer's position read as operands followed
  // by an operator (other than ID and EI), or as nothing at all, within
  // kTailTokens tokens.
  static bool TailReads(Lexer& tail) {
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

  // The bytes the main reading reached and those the tail checks spent.
  std::size_t Examined() const { return lexer_.Position() + (initialTailBudget_ - tailBudget_); }

  std::string_view data_;
  Lexer lexer_;
  const std::size_t initialTailBudget_;
  std::size_t tailBudget_;
};

}  // namespace

ContentReading ReadContentStream(std::string_view data) { return ContentReader(data).Read(); }

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
