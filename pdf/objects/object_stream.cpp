#include "pdf/objects/object_stream.h"

#include <algorithm>
#include <numeric>

#include "base/checked_number.h"
#include "pdf/objects/object_reader.h"

namespace quillane {

ObjectStreamReading ObjectStream::Parse(Text data, const PdfObject& dictionary) {
  const std::optional<std::int64_t> n = NonNegativeInteger(dictionary.Find("N"));
  const std::optional<std::int64_t> first = NonNegativeInteger(dictionary.Find("First"));
  if (!n) return {std::nullopt, "/N missing or no count"};
  if (!first) return {std::nullopt, "/First missing or no offset"};
  // Offsets are kept in 32 bits; decoded data never comes near that.
  if (*first > static_cast<std::int64_t>(data.size()) || data.size() > UINT32_MAX) {
    return {std::nullopt, "/First outside the data"};
  }
  ObjectStream stream;
  const auto firstByte = static_cast<std::size_t>(*first);
  const std::string_view pairs = std::string_view(data).substr(0, firstByte);
  Lexer lexer(pairs);
  std::vector<std::uint32_t> offsets;
  // Each pair takes at least four bytes ("1 0 "), so the data bounds the
  // count whatever /N says.
  const auto reserve = std::min<std::int64_t>(*n, static_cast<std::int64_t>(firstByte / 4 + 1));
  stream.numbers_.reserve(static_cast<std::size_t>(reserve));
  offsets.reserve(static_cast<std::size_t>(reserve));
  for (std::int64_t i = 0; i < *n; ++i) {
    const Token number = lexer.Next();
    const Token offset = lexer.Next();
    if (number.Kind != TokenKind::kNumber || offset.Kind != TokenKind::kNumber) break;
    const std::optional<std::int64_t> numberValue = DecimalValue(lexer.Bytes(number));
    const std::optional<std::int64_t> offsetValue =
        DecimalValue(lexer.Bytes(offset), static_cast<std::int64_t>(data.size() - firstByte));
    if (!numberValue || !offsetValue) break;
    stream.numbers_.push_back(*numberValue);
    offsets.push_back(
        static_cast<std::uint32_t>(firstByte + static_cast<std::size_t>(*offsetValue)));
  }
  // Each object ends where the next larger offset begins: the offsets are
  // meant to ascend, but nothing is taken for granted.
  std::vector<std::uint32_t> order(offsets.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&offsets](std::uint32_t a, std::uint32_t b) {
    return offsets[a] < offsets[b];
  });
  stream.ends_.assign(offsets.size(), static_cast<std::uint32_t>(data.size()));
  for (std::size_t k = 0; k < order.size(); ++k) {
    std::size_t next = k + 1;
    while (next < order.size() && offsets[order[next]] == offsets[order[k]]) ++next;
    if (next < order.size()) stream.ends_[order[k]] = offsets[order[next]];
  }
  stream.starts_ = std::move(offsets);
  stream.data_ = std::move(data);
  return {std::move(stream), {}};
}

std::optional<std::size_t> ObjectStream::IndexOf(std::int64_t number, std::int64_t hint) const {
  if (hint >= 0 && static_cast<std::uint64_t>(hint) < numbers_.size() &&
      numbers_[static_cast<std::size_t>(hint)] == number) {
    return static_cast<std::size_t>(hint);
  }
  // A search among the pairs, sorted once: a stream whose indexes are all
  // wrong still costs a logarithm a lookup.
  if (byNumber_.empty()) {
    byNumber_.reserve(numbers_.size());
    for (std::size_t i = 0; i < numbers_.size(); ++i) {
      byNumber_.emplace_back(numbers_[i], static_cast<std::uint32_t>(i));
    }
    std::stable_sort(byNumber_.begin(), byNumber_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  const auto found =
      std::lower_bound(byNumber_.begin(), byNumber_.end(), number,
                       [](const auto& pair, std::int64_t value) { return pair.first < value; });
  if (found == byNumber_.end() || found->first != number) return std::nullopt;
  return found->second;
}

std::optional<StreamedObject> ObjectStream::ReadAt(std::size_t index,
                                                   const EntryFilter* filter) const {
  const std::size_t start = starts_[index];
  const std::size_t end = ends_[index];
  Lexer lexer(std::string_view(data_).substr(start, end - start));
  std::optional<PdfObject> value = ReadFilteredObject(lexer, filter);
  if (!value) return std::nullopt;
  StreamedObject object;
  object.ValueStart = start + value->Start;
  ShiftPositions(*value, value->Start);
  object.Value = std::move(*value);
  return object;
}

}  // namespace quillane
