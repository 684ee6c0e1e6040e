#include "pdf/filters/stream_filters.h"

#include <algorithm>

#include "pdf/filters/flate_encoder.h"
#include "pdf/filters/stream_decoder.h"

namespace quillane {

namespace {

constexpr std::string_view kFlate = "FlateDecode";
constexpr std::string_view kLzw = "LZWDecode";
constexpr std::string_view kRunLength = "RunLengthDecode";
constexpr std::string_view kAsciiHex = "ASCIIHexDecode";
constexpr std::string_view kAscii85 = "ASCII85Decode";
constexpr std::string_view kTooLarge = "decoded data too large";
// Predictor rows wider than this (a row of 262,144 RGBA pixels) are no
// image of any use and are refused; a decoder holds one row per predictor.
constexpr std::int64_t kMaxRowBytes = std::int64_t{1} << 20;

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
// null), and /EarlyChange for LZW (ISO 32000-1, Table 9); the reason when
// they are not usable.
Text ReadPredictor(const PdfObject* parameters, StreamFilter& filter) {
  if (filter.Name != kFlate && filter.Name != kLzw) return {};
  if (parameters == nullptr || parameters->Kind == PdfObject::Type::kNull) return {};
  if (parameters->Kind == PdfObject::Type::kReference) return "parameters by reference";
  if (parameters->Kind != PdfObject::Type::kDictionary) return "parameters not a dictionary";
  if (filter.Name == kLzw && !ReadParameter(*parameters, "EarlyChange", 0, 1, filter.EarlyChange)) {
    return "LZW parameters";
  }
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
  if (names.size() > kMaxFilters) {
    chain.Reason = "too many filters";
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
    if (step.Name != kFlate && step.Name != kLzw && step.Name != kRunLength &&
        step.Name != kAsciiHex && step.Name != kAscii85) {
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
  DecodedData result;
  if (raw.size() > limit) {
    result.Reason = Text(kTooLarge);
    result.TooLarge = true;
    return result;
  }
  // One decoder per thread, so that its buffers and zlib state serve call
  // after call.
  thread_local StreamDecoder decoder;
  MemorySource source(raw);
  decoder.Reset(source, filters, raw.size(), limit);
  // Decoded straight into the result, which grows as needed up to one byte
  // beyond the limit, so that passing the limit shows.
  const std::size_t first =
      filters.empty() ? raw.size() : std::max<std::size_t>(raw.size() * 4, 1024);
  Text out(std::min(limit + 1, std::max<std::size_t>(first, 1)), '\0');
  std::size_t written = 0;
  while (true) {
    if (written == out.size()) {
      if (out.size() > limit) {
        // Past the limit the last stage has failed; the decoder still reads
        // the stages before it to their end, whose damage would come first.
        char rest[256];
        while (decoder.Read(rest, sizeof rest) > 0) {
        }
        break;
      }
      out.resize(std::min(limit + 1, out.size() * 2));
    }
    const std::size_t count = decoder.Read(out.data() + written, out.size() - written);
    if (count == 0) break;
    written += count;
  }
  if (decoder.Failed()) {
    result.TooLarge = decoder.TooLarge();
    result.Reason = Text(decoder.Reason());
    return result;
  }
  out.resize(written);
  result.Data = std::move(out);
  return result;
}

Text FlateCompress(std::string_view data) {
  Text out;
  out.reserve(data.size() / 2 + 64);
  TextSink sink(out);
  FlateEncoder encoder(sink);
  encoder.Write(data);
  encoder.Finish();
  return out;
}

}  // namespace quillane
