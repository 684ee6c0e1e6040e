#include "pdf/update/xref_section.h"

#include <algorithm>

#include "base/error.h"
#include "pdf/filters/stream_filters.h"

namespace quillane {

namespace {

constexpr std::size_t kTableOffsetDigits = 10;

Text TrailerText(const TrailerEntries& trailer) {
  Text text;
  if (!trailer.Root.empty()) text += "/Root " + trailer.Root + "\r\n";
  if (!trailer.Info.empty()) text += "/Info " + trailer.Info + "\r\n";
  if (!trailer.Id.empty()) text += "/ID " + trailer.Id + "\r\n";
  return text;
}

Text EndBlock(Position position) { return "startxref\r\n" + IntToText(position) + "\r\n%%EOF\r\n"; }

// The runs of consecutive numbers among `numbers` (sorted): first and count.
std::vector<std::pair<std::int64_t, std::int64_t>> Runs(const std::vector<std::int64_t>& numbers) {
  std::vector<std::pair<std::int64_t, std::int64_t>> runs;
  for (const std::int64_t number : numbers) {
    if (!runs.empty() && runs.back().first + runs.back().second == number) {
      ++runs.back().second;
    } else {
      runs.emplace_back(number, 1);
    }
  }
  return runs;
}

int BytesFor(std::uint64_t value) {
  int bytes = 1;
  while (bytes < 8 && (value >> (8 * bytes)) != 0) ++bytes;
  return bytes;
}

void AppendBigEndian(Text& data, std::uint64_t value, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
    data += static_cast<char>((value >> shift) & 0xFF);
  }
}

}  // namespace

Text CompleteTable(const std::vector<XrefRow>& rows, const TrailerEntries& trailer,
                   Position position) {
  std::vector<std::int64_t> numbers{0};
  for (const XrefRow& row : rows) numbers.push_back(row.Number);
  Text text = "xref\r\n";
  std::size_t next = 0;  // the row of the next in-use entry
  for (const auto& [first, count] : Runs(numbers)) {
    text += IntToText(first) + " " + IntToText(count) + "\r\n";
    for (std::int64_t number = first; number < first + count; ++number) {
      if (number == 0) {
        // The head of the free list, which no entry follows (7.5.4).
        text += "0000000000 65535 f\r\n";
        continue;
      }
      const XrefRow& row = rows[next++];
      const Text offset = IntToText(row.Offset);
      if (offset.size() > kTableOffsetDigits) {
        throw Error("The output would be too large for a cross-reference table (10 GB or more).");
      }
      text += PadLeftWithZeros(offset, kTableOffsetDigits) + " " +
              PadLeftWithZeros(IntToText(row.Generation), 5) + " n\r\n";
    }
  }
  const std::int64_t size = numbers.back() + 1;
  text += "trailer\r\n<<\r\n/Size " + IntToText(size) + "\r\n" + TrailerText(trailer) + ">>\r\n";
  return text + EndBlock(position);
}

Text CompleteStream(const std::vector<XrefRow>& rows, const TrailerEntries& trailer,
                    std::int64_t number, Position position) {
  // Field widths from the largest values, so that no row is cut.
  std::uint64_t largestOffset = static_cast<std::uint64_t>(position);
  std::uint64_t largestThird = 65535;  // object 0's generation
  for (const XrefRow& row : rows) {
    const auto second = static_cast<std::uint64_t>(row.InObjectStream ? row.Stream : row.Offset);
    const auto third = static_cast<std::uint64_t>(row.InObjectStream ? row.Index : row.Generation);
    largestOffset = std::max(largestOffset, second);
    largestThird = std::max(largestThird, third);
  }
  const int secondBytes = BytesFor(largestOffset);
  const int thirdBytes = BytesFor(largestThird);
  std::vector<std::int64_t> numbers{0};
  Text data;
  AppendBigEndian(data, 0, 1);
  AppendBigEndian(data, 0, secondBytes);
  AppendBigEndian(data, 65535, thirdBytes);
  for (const XrefRow& row : rows) {
    numbers.push_back(row.Number);
    AppendBigEndian(data, row.InObjectStream ? 2 : 1, 1);
    AppendBigEndian(data, static_cast<std::uint64_t>(row.InObjectStream ? row.Stream : row.Offset),
                    secondBytes);
    AppendBigEndian(data,
                    static_cast<std::uint64_t>(row.InObjectStream ? row.Index : row.Generation),
                    thirdBytes);
  }
  numbers.push_back(number);
  AppendBigEndian(data, 1, 1);
  AppendBigEndian(data, static_cast<std::uint64_t>(position), secondBytes);
  AppendBigEndian(data, 0, thirdBytes);
  const Text compressed = FlateCompress(data);
  Text index;
  for (const auto& [first, count] : Runs(numbers)) {
    index += (index.empty() ? "" : " ") + IntToText(first) + " " + IntToText(count);
  }
  Text text = IntToText(number) + " 0 obj\r\n<<\r\n/Type/XRef\r\n";
  text += "/Size " + IntToText(number + 1) + "\r\n";
  text += "/Index [" + index + "]\r\n";
  text += "/W[1 " + IntToText(secondBytes) + " " + IntToText(thirdBytes) + "]\r\n";
  text += TrailerText(trailer);
  text += "/Filter/FlateDecode\r\n/Length " +
          IntToText(static_cast<std::int64_t>(compressed.size())) + "\r\n>>\r\nstream\r\n";
  text += compressed;
  text += "\r\nendstream\r\nendobj\r\n";
  return text + EndBlock(position);
}

}  // namespace quillane
