#include "pdf/update/templates.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <optional>

#include "pdf/filters/stream_filters.h"
#include "pdf/syntax/lexer.h"

namespace quillane {

namespace {

bool IsNameIn(const PdfObject* value, std::initializer_list<std::string_view> names) {
  if (value == nullptr) return false;
  for (const std::string_view name : names) {
    if (value->IsName(name)) return true;
  }
  return false;
}

}  // namespace

Text ReplacementObjectText(ObjectKey key, const PlaceholderTemplates& templates,
                           ObjectKey extraKey) {
  Text text = IntToText(ObjectNumber(key)) + " " + IntToText(ObjectGeneration(key)) + " obj\n";
  if (HasExtraObject(templates.Mode)) {
    text += ReplaceAll(templates.body, kExtraObjectPlaceholder, ObjectKeyToText(extraKey));
  } else {
    text += templates.body;
  }
  text += "endobj\n";
  return text;
}

Text ExtraObjectText(const PlaceholderTemplates& templates, ObjectKey extraKey) {
  return ReplaceAll(*templates.extra, kExtraObjectPlaceholder, ObjectKeyToText(extraKey));
}

std::uint8_t PlaceholderGray(std::string_view templateBytes) {
  Lexer lexer(templateBytes);
  const std::optional<PdfObject> dictionary = ReadObject(lexer, true);
  if (!dictionary || dictionary->Kind != PdfObject::Type::kDictionary) return kFallbackGray;
  const Token keyword = lexer.Next();
  if (keyword.Kind != TokenKind::kKeyword || lexer.Bytes(keyword) != "stream") {
    return kFallbackGray;
  }
  std::size_t start = keyword.End;
  if (start < templateBytes.size() && templateBytes[start] == '\r') ++start;
  if (start < templateBytes.size() && templateBytes[start] == '\n') ++start;
  std::string_view data = templateBytes.substr(start);
  const PdfObject* length = dictionary->Find("Length");
  const std::optional<std::int64_t> size = length != nullptr ? length->Integer() : std::nullopt;
  if (size && *size >= 0 && static_cast<std::uint64_t>(*size) <= data.size()) {
    data = data.substr(0, static_cast<std::size_t>(*size));
  }
  const FilterChain chain = ReadFilterChain(*dictionary);
  if (!chain.Filters) return kFallbackGray;
  const DecodedData decoded = DecodeStreamData(data, *chain.Filters);
  const PdfObject* bits = dictionary->Find("BitsPerComponent");
  if (!decoded.Data || bits == nullptr || bits->Integer() != 8) return kFallbackGray;
  const Text& samples = *decoded.Data;
  const PdfObject* space = dictionary->Find("ColorSpace");
  const auto sample = [&samples](std::size_t i) { return static_cast<std::uint8_t>(samples[i]); };
  if (IsNameIn(space, {"DeviceGray", "G"}) && !samples.empty()) {
    // A /Decode array maps the sample onto [Dmin, Dmax] (ISO 32000-1,
    // 8.9.5.2): the shipped template writes its light gray as an ASCII
    // sample, which keeps the file plain ASCII text.
    const PdfObject* decode = dictionary->Find("Decode");
    if (decode == nullptr) return sample(0);
    if (decode->Kind != PdfObject::Type::kArray || decode->Items.size() != 2) return kFallbackGray;
    const std::optional<double> low = decode->Items[0].NumberValue();
    const std::optional<double> high = decode->Items[1].NumberValue();
    if (!low || !high) return kFallbackGray;
    const double value = std::clamp(*low + sample(0) * (*high - *low) / 255.0, 0.0, 1.0);
    return static_cast<std::uint8_t>(std::lround(value * 255.0));
  }
  if (IsNameIn(space, {"DeviceRGB", "RGB"}) && samples.size() >= 3) {
    // ITU-R BT.601 luma weights, in thousandths.
    return static_cast<std::uint8_t>((299 * sample(0) + 587 * sample(1) + 114 * sample(2)) / 1000);
  }
  return kFallbackGray;
}

}  // namespace quillane
