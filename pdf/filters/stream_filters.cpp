#include "pdf/filters/stream_filters.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "base/byte_classes.h"

namespace quillane {

namespace {

constexpr std::string_view kFlate = "FlateDecode";
constexpr std::string_view kAsciiHex = "ASCIIHexDecode";
constexpr std::string_view kAscii85 = "ASCII85Decode";
constexpr std::string_view kTooLarge = "decoded data too large";
// zlib counts its buffers in 32 bits; data is handed over in pieces.
constexpr std::size_t kZlibPiece = std::size_t{1} << 20;
// Predictor rows wider than this are no image of any use and are refused.
constexpr std::int64_t kMaxRowBytes = std::int64_t{1} << 24;

DecodedData Damaged(Text reason) { return {std::nullopt, std::move(reason), false}; }

// Reads one parameter of /DecodeParms; false when it is there but is no
// integer within [low, high].
bool ReadParameter(const PdfObject& parameters, std::string_view key, std::int64_t low,
                   std::int64_t high, std::int64_t& value) {
  const PdfObject* entry = parameters.Find(key);
  if (entry == nullptr) return true;
  const std::optional<std::int64_t> number = entry->Integer();
  if (!number || *number < low || *number > high) return false;
  value = *number;
  return true;
}

// The predictor parameters of `filter` from its /DecodeParms dictionary (or
// null); the reason when they are not usable.
Text ReadPredictor(const PdfObject* parameters, StreamFilter& filter) {
  if (filter.Name != kFlate) return {};
  if (parameters == nullptr || parameters->Kind == PdfObject::Type::kNull) return {};
  if (parameters->Kind == PdfObject::Type::kReference) return "parameters by reference";
  if (parameters->Kind != PdfObject::Type::kDictionary) return "parameters not a dictionary";
  if (!ReadParameter(*parameters, "Predictor", 1, 15, filter.Predictor) ||
      !ReadParameter(*parameters, "Colors", 1, 64, filter.Colors) ||
      !ReadParameter(*parameters, "BitsPerComponent", 1, 16, filter.BitsPerComponent) ||
      !ReadParameter(*parameters, "Columns", 1, kMaxRowBytes, filter.Columns)) {
    return "predictor parameters";
  }
  const std::int64_t bits = filter.BitsPerComponent;
  if ((filter.Predictor > 2 && filter.Predictor < 10) ||
      (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) ||
      filter.Colors * bits * filter.Columns > kMaxRowBytes * 8) {
    return "predictor parameters";
  }
  return {};
}

std::optional<Text> Inflate(std::string_view raw, std::size_t limit, Text& reason) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) throw std::bad_alloc();
  // Inflated straight into the result, which grows as needed up to one byte
  // beyond the limit, so that passing the limit shows.
  Text out(std::min(limit + 1, std::max<std::size_t>(raw.size() * 4, 1024)), '\0');
  std::size_t written = 0;
  std::size_t fed = 0;
  int status = Z_OK;
  while (status == Z_OK) {
    if (stream.avail_in == 0 && fed < raw.size()) {
      const std::size_t count = std::min(kZlibPiece, raw.size() - fed);
      // zlib does not write through next_in; its type lacks the const only.
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data() + fed));
      stream.avail_in = static_cast<uInt>(count);
      fed += count;
    }
    if (written == out.size()) {
      if (out.size() > limit) break;
      out.resize(std::min(limit + 1, out.size() * 2));
    }
    const std::size_t room = std::min(kZlibPiece, out.size() - written);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + written);
    stream.avail_out = static_cast<uInt>(room);
    status = inflate(&stream, Z_NO_FLUSH);
    written += room - stream.avail_out;
    // No progress with all input given: the data ends before its end.
    if (status == Z_BUF_ERROR && stream.avail_in == 0 && fed == raw.size()) break;
    if (status == Z_BUF_ERROR) status = Z_OK;
  }
  inflateEnd(&stream);
  if (written > limit) {
    reason = Text(kTooLarge);
    return std::nullopt;
  }
  if (status != Z_STREAM_END) {
    reason = status == Z_DATA_ERROR || status == Z_NEED_DICT ? "Flate data damaged"
                                                             : "Flate data cut short";
    return std::nullopt;
  }
  out.resize(written);
  return out;
}

// ISO 32000-1, 7.4.2: pairs of hexadecimal digits up to ">", white space
// ignored, a last odd digit completed with 0. The end of the data stands for
// a missing ">".
std::optional<Text> AsciiHexDecode(std::string_view raw) {
  Text out;
  out.reserve(raw.size() / 2);
  int high = -1;
  for (const char c : raw) {
    if (c == '>') break;
    if (IsWhiteSpace(c)) continue;
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    if (high < 0) {
      high = digit;
    } else {
      out += static_cast<char>(high * 16 + digit);
      high = -1;
    }
  }
  if (high >= 0) out += static_cast<char>(high * 16);
  return out;
}

// ISO 32000-1, 7.4.3: groups of five characters "!" to "u" give four bytes,
// "z" four zero bytes, "~>" ends the data; a last group of n characters
// (2 to 4) gives n - 1 bytes. The end of the data stands for a missing "~>".
std::optional<Text> Ascii85Decode(std::string_view raw) {
  Text out;
  out.reserve(raw.size() / 5 * 4 + 4);
  std::uint64_t group = 0;
  int count = 0;
  const auto emit = [&out](std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
  };
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (IsWhiteSpace(c)) continue;
    if (c == '~') {
      if (i + 1 < raw.size() && raw[i + 1] != '>') return std::nullopt;
      break;
    }
    if (c == 'z' && count == 0) {
      out.append(4, '\0');
      continue;
    }
    if (c < '!' || c > 'u') return std::nullopt;
    group = group * 85 + static_cast<std::uint64_t>(c - '!');
    if (++count == 5) {
      if (group > 0xFFFFFFFFu) return std::nullopt;
      emit(group, 4);
      group = 0;
      count = 0;
    }
  }
  if (count == 1) return std::nullopt;
  if (count > 1) {
    for (int i = count; i < 5; ++i) group = group * 85 + 84;
    if (group > 0xFFFFFFFFu) return std::nullopt;
    emit(group, count - 1);
  }
  return out;
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// ISO 32000-1, 7.4.4.4 and PNG (RFC 2083): every row starts with its
// own filter type byte (0 None, 1 Sub, 2 Up, 3 Average, 4 Paeth).
std::optional<Text> UndoPng(std::string_view data, std::size_t rowBytes, std::size_t pixelBytes) {
  if (data.size() % (rowBytes + 1) != 0) return std::nullopt;
  Text out;
  out.reserve(data.size() / (rowBytes + 1) * rowBytes);
  Text previous(rowBytes, '\0');
  Text row(rowBytes, '\0');
  for (std::size_t at = 0; at < data.size(); at += rowBytes + 1) {
    const auto type = static_cast<std::uint8_t>(data[at]);
    const std::string_view encoded = data.substr(at + 1, rowBytes);
    for (std::size_t i = 0; i < rowBytes; ++i) {
      const int x = static_cast<std::uint8_t>(encoded[i]);
      const int a = i >= pixelBytes ? static_cast<std::uint8_t>(row[i - pixelBytes]) : 0;
      const int b = static_cast<std::uint8_t>(previous[i]);
      const int c = i >= pixelBytes ? static_cast<std::uint8_t>(previous[i - pixelBytes]) : 0;
      int value = 0;
      switch (type) {
        case 0:
          value = x;
          break;
        case 1:
          value = x + a;
          break;
        case 2:
          value = x + b;
          break;
        case 3:
          value = x + (a + b) / 2;
          break;
        case 4:
          value = x + Paeth(a, b, c);
          break;
        default:
          return std::nullopt;
      }
      row[i] = static_cast<char>(value & 0xFF);
    }
    out += row;
    std::swap(previous, row);
  }
  return out;
}

// ISO 32000-1, 7.4.4.4, Predictor 2: each sample is stored as its difference
// to the sample of the same colour component one pixel to the left.
std::optional<Text> UndoTiff(std::string_view data, std::size_t rowBytes, const StreamFilter& f) {
  if (data.size() % rowBytes != 0) return std::nullopt;
  Text out(data);
  const auto bits = static_cast<unsigned>(f.BitsPerComponent);
  const auto colors = static_cast<std::size_t>(f.Colors);
  const auto samples = static_cast<std::size_t>(f.Columns) * colors;
  const std::uint32_t mask = (bits == 16 ? 0xFFFFu : (1u << bits) - 1);
  for (std::size_t rowStart = 0; rowStart < out.size(); rowStart += rowBytes) {
    const auto byte = [&out, rowStart](std::size_t i) -> std::uint8_t& {
      return reinterpret_cast<std::uint8_t&>(out[rowStart + i]);
    };
    // Below 8 bits a sample sits in one byte, most significant bits first.
    const auto shiftOf = [bits](std::size_t bit) {
      return static_cast<unsigned>(8 - bits - bit % 8);
    };
    const auto get = [&](std::size_t s) -> std::uint32_t {
      if (bits == 16) return (std::uint32_t{byte(2 * s)} << 8) | byte(2 * s + 1);
      if (bits == 8) return byte(s);
      const std::size_t bit = s * bits;
      const std::uint32_t value = byte(bit / 8);
      return (value >> shiftOf(bit)) & mask;
    };
    const auto put = [&](std::size_t s, std::uint32_t v) {
      if (bits == 16) {
        byte(2 * s) = static_cast<std::uint8_t>(v >> 8);
        byte(2 * s + 1) = static_cast<std::uint8_t>(v);
      } else if (bits == 8) {
        byte(s) = static_cast<std::uint8_t>(v);
      } else {
        const std::size_t bit = s * bits;
        const unsigned shift = shiftOf(bit);
        const std::uint32_t old = byte(bit / 8);
        byte(bit / 8) = static_cast<std::uint8_t>((old & ~(mask << shift)) | (v << shift));
      }
    };
    for (std::size_t s = colors; s < samples; ++s) put(s, (get(s) + get(s - colors)) & mask);
  }
  return out;
}

DecodedData ApplyFilter(std::string_view data, const StreamFilter& filter, std::size_t limit) {
  if (filter.Name == kAsciiHex) {
    std::optional<Text> out = AsciiHexDecode(data);
    if (!out) return Damaged("ASCIIHex data damaged");
    return {std::move(out), {}};
  }
  if (filter.Name == kAscii85) {
    std::optional<Text> out = Ascii85Decode(data);
    if (!out) return Damaged("ASCII85 data damaged");
    return {std::move(out), {}};
  }
  Text reason;
  std::optional<Text> inflated = Inflate(data, limit, reason);
  if (!inflated) return Damaged(reason);
  if (filter.Predictor == 1) return {std::move(inflated), {}};
  const auto rowBits = filter.Colors * filter.BitsPerComponent * filter.Columns;
  const auto rowBytes = static_cast<std::size_t>((rowBits + 7) / 8);
  std::optional<Text> out;
  if (filter.Predictor == 2) {
    out = UndoTiff(*inflated, rowBytes, filter);
  } else {
    const auto pixelBytes =
        static_cast<std::size_t>((filter.Colors * filter.BitsPerComponent + 7) / 8);
    out = UndoPng(*inflated, rowBytes, pixelBytes);
  }
  if (!out) return Damaged("predictor rows damaged");
  return {std::move(out), {}};
}

}  // namespace

FilterChain ReadFilterChain(const PdfObject& dictionary) {
  FilterChain chain;
  const PdfObject* filter = dictionary.Find("Filter");
  const PdfObject* parameters = dictionary.Find("DecodeParms");
  std::vector<const PdfObject*> names;
  std::vector<const PdfObject*> parameterList;
  if (filter == nullptr || filter->Kind == PdfObject::Type::kNull) {
    chain.Filters.emplace();
    return chain;
  }
  if (filter->Kind == PdfObject::Type::kName) {
    names.push_back(filter);
    // Some writers give a lone filter's parameters as an array of one.
    if (parameters != nullptr && parameters->Kind == PdfObject::Type::kArray &&
        parameters->Items.size() == 1) {
      parameters = &parameters->Items[0];
    }
    parameterList.push_back(parameters);
  } else if (filter->Kind == PdfObject::Type::kArray) {
    for (const PdfObject& item : filter->Items) names.push_back(&item);
    // Parameters of a chain are an array parallel to the filters; a missing
    // array or a short one leaves the defaults.
    for (std::size_t i = 0; i < names.size(); ++i) {
      const PdfObject* p = nullptr;
      if (parameters != nullptr && parameters->Kind == PdfObject::Type::kArray &&
          i < parameters->Items.size()) {
        p = &parameters->Items[i];
      } else if (parameters != nullptr && parameters->Kind != PdfObject::Type::kArray &&
                 parameters->Kind != PdfObject::Type::kNull) {
        chain.Reason = "parameters not an array";
        return chain;
      }
      parameterList.push_back(p);
    }
  } else {
    chain.Reason =
        filter->Kind == PdfObject::Type::kReference ? "filter by reference" : "filter not a name";
    return chain;
  }
  std::vector<StreamFilter> filters;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i]->Kind != PdfObject::Type::kName) {
      chain.Reason = "filter not a name";
      return chain;
    }
    StreamFilter step;
    step.Name = names[i]->Value;
    if (step.Name != kFlate && step.Name != kAsciiHex && step.Name != kAscii85) {
      chain.Reason = "filter " + step.Name;
      return chain;
    }
    chain.Reason = ReadPredictor(parameterList[i], step);
    if (!chain.Reason.empty()) return chain;
    filters.push_back(std::move(step));
  }
  chain.Filters = std::move(filters);
  return chain;
}

DecodedData DecodeStreamData(std::string_view raw, const std::vector<StreamFilter>& filters,
                             std::size_t limit) {
  DecodedData tooLarge = Damaged(Text(kTooLarge));
  tooLarge.TooLarge = true;
  if (raw.size() > limit) return tooLarge;
  Text current(raw);
  for (const StreamFilter& filter : filters) {
    DecodedData step = ApplyFilter(current, filter, limit);
    if (!step.Data && step.Reason == kTooLarge) return tooLarge;
    if (!step.Data) return step;
    if (step.Data->size() > limit) return tooLarge;
    current = std::move(*step.Data);
  }
  return {std::move(current), {}};
}

Text FlateCompress(std::string_view data) {
  z_stream stream{};
  if (deflateInit(&stream, Z_DEFAULT_COMPRESSION) != Z_OK) throw std::bad_alloc();
  // Room for the usual result; grown when data does not compress.
  Text out(data.size() / 2 + 64, '\0');
  std::size_t written = 0;
  std::size_t fed = 0;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (stream.avail_in == 0 && fed < data.size()) {
      const std::size_t count = std::min(kZlibPiece, data.size() - fed);
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + fed));
      stream.avail_in = static_cast<uInt>(count);
      fed += count;
    }
    if (written == out.size()) out.resize(out.size() * 2);
    const std::size_t room = std::min(kZlibPiece, out.size() - written);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + written);
    stream.avail_out = static_cast<uInt>(room);
    status = deflate(&stream, fed == data.size() ? Z_FINISH : Z_NO_FLUSH);
    written += room - stream.avail_out;
    // With its memory in place deflate cannot fail; Z_BUF_ERROR only asks
    // for more room or input.
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) break;
  }
  deflateEnd(&stream);
  if (status != Z_STREAM_END) throw std::bad_alloc();
  out.resize(written);
  return out;
}

}  // namespace quillane
