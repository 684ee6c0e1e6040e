#include "support/pdf_builder.h"

#include <algorithm>

#include <cstdio>
#include <map>
#include <utility>
#include "support/zlib_data.h"

namespace quillane::test {
namespace {

// A cross-reference entry: type 0 (free: -, next generation), 1 (offset,
// generation) or 2 (object stream, index).
struct Entry {
  int type;
  std::int64_t first;
  std::int64_t second;
};
using Entries = std::map<std::int64_t, Entry>;

std::string Decimal(std::int64_t value) { return std::to_string(value); }

std::string Padded(std::int64_t value, int width) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*lld", width, static_cast<long long>(value));
  return buffer;
}

// Runs of consecutive object numbers, as (first, count) pairs.
std::vector<std::pair<std::int64_t, std::int64_t>> Subsections(
    const std::vector<std::int64_t>& numbers) {
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

void AppendBigEndian(std::string& out, std::int64_t value, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
    out += static_cast<char>((value >> shift) & 0xFF);
  }
}

// The rows of a cross-reference stream for `entries`, and its /Index.
std::string StreamRows(const Entries& entries, const XrefStreamLayout& layout, std::string& index) {
  std::string rows;
  std::vector<std::int64_t> numbers;
  for (const auto& [number, entry] : entries) {
    numbers.push_back(number);
    AppendBigEndian(rows, entry.type, layout.Widths[0]);
    AppendBigEndian(rows, entry.first, layout.Widths[1]);
    AppendBigEndian(rows, entry.second, layout.Widths[2]);
  }
  index.clear();
  for (const auto& [first, count] : Subsections(numbers)) {
    index += (index.empty() ? "" : " ") + Decimal(first) + " " + Decimal(count);
  }
  return rows;
}

// A cross-reference stream object for `entries`: its dictionary holds
// `leading`, then /Type/XRef/Size/W/Index, `tail` and the filter entries.
std::string XrefStreamObject(std::int64_t number, const Entries& entries, std::int64_t size,
                             const XrefStreamLayout& layout, const std::string& leading,
                             const std::string& tail) {
  std::string index;
  std::string data = StreamRows(entries, layout, index);
  const int width = layout.Widths[0] + layout.Widths[1] + layout.Widths[2];
  std::string filter;
  if (layout.Predictor) {
    // PNG Up: each row after the filter-type byte 2 holds its difference
    // from the row above.
    std::string predicted;
    std::string above(static_cast<std::size_t>(width), '\0');
    for (std::size_t row = 0; row < data.size(); row += static_cast<std::size_t>(width)) {
      predicted += '\x02';
      for (std::size_t i = 0; i < static_cast<std::size_t>(width); ++i) {
        predicted += static_cast<char>(data[row + i] - above[i]);
      }
      above = data.substr(row, static_cast<std::size_t>(width));
    }
    data = predicted;
    filter = "/DecodeParms<</Predictor 12/Columns " + Decimal(width) + ">>";
  }
  if (layout.Flate) {
    data = ZlibCompress(data);
    filter = "/Filter/FlateDecode" + filter;
  }
  return Decimal(number) + " 0 obj\n<<" + leading + "/Type/XRef/Size " + Decimal(size) + "/W[" +
         Decimal(layout.Widths[0]) + " " + Decimal(layout.Widths[1]) + " " +
         Decimal(layout.Widths[2]) + "]/Index[" + index + "]" + tail + filter + "/Length " +
         Decimal(static_cast<std::int64_t>(data.size())) + ">>\nstream\n" + data +
         "\nendstream\nendobj\n";
}

}  // namespace

PdfBuilder& PdfBuilder::Prefix(std::string bytes) {
  prefix_ = std::move(bytes);
  return *this;
}

PdfBuilder& PdfBuilder::Header(std::string bytes) {
  header_ = std::move(bytes);
  return *this;
}

PdfBuilder& PdfBuilder::Object(std::int64_t number, std::int64_t generation, std::string body) {
  Current().pieces.emplace_back(ObjectPiece{number, generation, std::move(body)});
  return *this;
}

PdfBuilder& PdfBuilder::Raw(std::string bytes) {
  Current().pieces.emplace_back(std::move(bytes));
  return *this;
}

PdfBuilder& PdfBuilder::Free(std::int64_t number, std::int64_t generation) {
  Current().pieces.emplace_back(FreePiece{number, generation});
  return *this;
}

PdfBuilder& PdfBuilder::ObjectStream(std::int64_t number,
                                     std::vector<std::pair<std::int64_t, std::string>> objects,
                                     std::string entries, bool flate) {
  Current().pieces.emplace_back(
      ObjectStreamPiece{number, std::move(objects), std::move(entries), flate});
  return *this;
}

PdfBuilder& PdfBuilder::StreamLayout(XrefStreamLayout layout) {
  Current().layout = layout;
  return *this;
}

PdfBuilder& PdfBuilder::Form(XrefForm form) {
  Current().form = form;
  return *this;
}

PdfBuilder& PdfBuilder::LeadingEntries(std::string entries) {
  Current().leading_entries = std::move(entries);
  return *this;
}

PdfBuilder& PdfBuilder::TrailerEntries(std::string entries) {
  Current().trailer_entries = std::move(entries);
  return *this;
}

PdfBuilder& PdfBuilder::Root(std::string reference) {
  Current().root = std::move(reference);
  return *this;
}

PdfBuilder& PdfBuilder::Size(std::int64_t size) {
  Current().size = size;
  return *this;
}

PdfBuilder& PdfBuilder::StreamNumber(std::int64_t number) {
  Current().stream_number = number;
  return *this;
}

PdfBuilder& PdfBuilder::Update() {
  Revision next;
  next.form = Current().form;
  next.layout = Current().layout;
  next.leading_entries = Current().leading_entries;
  next.trailer_entries = Current().trailer_entries;
  next.root = Current().root;
  revisions_.push_back(std::move(next));
  return *this;
}

PdfBuilder& PdfBuilder::Trailing(std::string bytes) {
  trailing_ = std::move(bytes);
  return *this;
}

std::string PdfBuilder::Build() const {
  std::string out = header_;
  std::int64_t highest = 0;
  std::optional<std::int64_t> previous_section;

  for (std::size_t r = 0; r < revisions_.size(); ++r) {
    const Revision& revision = revisions_[r];
    Entries entries;
    if (r == 0) entries[0] = {0, 0, 65535};
    for (const Piece& piece : revision.pieces) {
      if (const auto* object = std::get_if<ObjectPiece>(&piece)) {
        entries[object->number] = {1, static_cast<std::int64_t>(out.size()), object->generation};
        out += Decimal(object->number) + " " + Decimal(object->generation) + " obj\n" +
               object->body + "endobj\n";
        highest = std::max(highest, object->number);
      } else if (const auto* free = std::get_if<FreePiece>(&piece)) {
        entries[free->number] = {0, 0, free->generation};
        highest = std::max(highest, free->number);
      } else if (const auto* stream = std::get_if<ObjectStreamPiece>(&piece)) {
        std::string pairs;
        std::string bodies;
        for (std::size_t i = 0; i < stream->objects.size(); ++i) {
          const auto& [number, body] = stream->objects[i];
          pairs += Decimal(number) + " " + Decimal(static_cast<std::int64_t>(bodies.size())) + " ";
          bodies += body + "\n";
          entries[number] = {2, stream->number, static_cast<std::int64_t>(i)};
          highest = std::max(highest, number);
        }
        std::string data = pairs + bodies;
        if (stream->flate) data = ZlibCompress(data);
        entries[stream->number] = {1, static_cast<std::int64_t>(out.size()), 0};
        highest = std::max(highest, stream->number);
        out += Decimal(stream->number) + " 0 obj\n<</Type/ObjStm/N " +
               Decimal(static_cast<std::int64_t>(stream->objects.size())) + "/First " +
               Decimal(static_cast<std::int64_t>(pairs.size())) + stream->entries +
               (stream->flate ? "/Filter/FlateDecode" : "") + "/Length " +
               Decimal(static_cast<std::int64_t>(data.size())) + ">>\nstream\n" + data +
               "\nendstream\nendobj\n";
      } else {
        out += std::get<std::string>(piece);
      }
    }

    std::string dictionary_tail;
    if (!revision.root.empty()) dictionary_tail += "/Root " + revision.root;
    dictionary_tail += revision.trailer_entries;
    if (previous_section) dictionary_tail += "/Prev " + Decimal(*previous_section);

    if (revision.form == XrefForm::kHybrid) {
      // The compressed objects' entries go into the stream, written first;
      // the table lists the rest, the stream itself, and the compressed
      // objects as free entries.
      Entries compressed;
      for (auto& [number, entry] : entries) {
        if (entry.type != 2) continue;
        compressed.insert({number, entry});
        entry = {0, 0, 0};
      }
      const std::int64_t number = revision.stream_number.value_or(highest + 1);
      highest = std::max(highest, number);
      const auto stream_offset = static_cast<std::int64_t>(out.size());
      entries[number] = {1, stream_offset, 0};
      out += XrefStreamObject(number, compressed, revision.size.value_or(highest + 1),
                              revision.layout, "", "");
      dictionary_tail += "/XRefStm " + Decimal(stream_offset);
    }
    const auto section = static_cast<std::int64_t>(out.size());

    if (revision.form != XrefForm::kStream) {
      const std::int64_t size = revision.size.value_or(highest + 1);
      std::vector<std::int64_t> numbers;
      for (const auto& entry : entries) numbers.push_back(entry.first);
      out += "xref\n";
      for (const auto& [first, count] : Subsections(numbers)) {
        out += Decimal(first) + " " + Decimal(count) + "\n";
        for (std::int64_t number = first; number < first + count; ++number) {
          const Entry& entry = entries.at(number);
          if (entry.type == 1) {
            out += Padded(entry.first, 10) + " " + Padded(entry.second, 5) + " n\r\n";
          } else {
            out += Padded(0, 10) + " " + Padded(entry.type == 0 ? entry.second : 0, 5) + " f\r\n";
          }
        }
      }
      out += "trailer\n<<" + revision.leading_entries + "/Size " + Decimal(size) + dictionary_tail +
             ">>\n";
    } else {
      const std::int64_t number = revision.stream_number.value_or(highest + 1);
      highest = std::max(highest, number);
      entries[number] = {1, section, 0};
      const std::int64_t size = revision.size.value_or(highest + 1);
      out += XrefStreamObject(number, entries, size, revision.layout, revision.leading_entries,
                              dictionary_tail);
    }
    out += "startxref\n" + Decimal(section) + "\n%%EOF\n";
    previous_section = section;
  }
  return prefix_ + out + trailing_;
}

std::string OneImagePdf(std::size_t padding, const std::string& trailerEntries) {
  PdfBuilder builder;
  builder.Object(1, 0, "<</Type/Catalog/Pages 2 0 R>>\n")
      .Object(2, 0, "<</Type/Pages/Kids[3 0 R]/Count 1>>\n")
      .Object(3, 0,
              "<</Type/Page/Parent 2 0 R/MediaBox[0 0 100 100]"
              "/Resources<</XObject<</Im1 4 0 R>>>>/Contents 5 0 R>>\n")
      .Object(4, 0,
              "<</Type/XObject/Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray"
              "/BitsPerComponent 8/Length 1>>\nstream\n\x80\nendstream\n")
      .Object(5, 0, "<</Length 29>>\nstream\nq 100 0 0 100 0 0 cm /Im1 Do Q\nendstream\n");
  if (padding > 0) builder.Raw("%" + std::string(padding, 'x') + "\n");
  return builder.TrailerEntries(trailerEntries).Build();
}

}  // namespace quillane::test
