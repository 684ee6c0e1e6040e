#include "support/pdf_builder.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

namespace quillane::test {
namespace {

using Entries =
    std::map<std::int64_t, std::pair<std::int64_t, std::int64_t>>;  // number -> (offset, gen)

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
    if (r == 0) entries[0] = {0, 65535};
    for (const Piece& piece : revision.pieces) {
      if (const auto* object = std::get_if<ObjectPiece>(&piece)) {
        entries[object->number] = {static_cast<std::int64_t>(out.size()), object->generation};
        out += Decimal(object->number) + " " + Decimal(object->generation) + " obj\n" +
               object->body + "endobj\n";
        highest = std::max(highest, object->number);
      } else {
        out += std::get<std::string>(piece);
      }
    }

    const auto section = static_cast<std::int64_t>(out.size());
    std::string dictionary_tail;
    if (!revision.root.empty()) dictionary_tail += "/Root " + revision.root;
    dictionary_tail += revision.trailer_entries;
    if (previous_section) dictionary_tail += "/Prev " + Decimal(*previous_section);

    if (revision.form == XrefForm::kTable) {
      const std::int64_t size = revision.size.value_or(highest + 1);
      std::vector<std::int64_t> numbers;
      for (const auto& entry : entries) numbers.push_back(entry.first);
      out += "xref\n";
      for (const auto& [first, count] : Subsections(numbers)) {
        out += Decimal(first) + " " + Decimal(count) + "\n";
        for (std::int64_t number = first; number < first + count; ++number) {
          const auto& [offset, generation] = entries.at(number);
          out += Padded(offset, 10) + " " + Padded(generation, 5) +
                 (number == 0 ? " f\r\n" : " n\r\n");
        }
      }
      out += "trailer\n<<" + revision.leading_entries + "/Size " + Decimal(size) + dictionary_tail +
             ">>\n";
    } else {
      const std::int64_t number = revision.stream_number.value_or(highest + 1);
      highest = std::max(highest, number);
      entries[number] = {section, 0};
      const std::int64_t size = revision.size.value_or(highest + 1);
      std::vector<std::int64_t> numbers;
      std::string data;
      for (const auto& [entry_number, entry] : entries) {
        numbers.push_back(entry_number);
        data += static_cast<char>(entry_number == 0 ? 0 : 1);
        AppendBigEndian(data, entry.first, 4);
        AppendBigEndian(data, entry.second, 2);
      }
      std::string index;
      for (const auto& [first, count] : Subsections(numbers)) {
        index += (index.empty() ? "" : " ") + Decimal(first) + " " + Decimal(count);
      }
      out += Decimal(number) + " 0 obj\n<<" + revision.leading_entries + "/Type/XRef/Size " +
             Decimal(size) + "/W[1 4 2]/Index[" + index + "]" + dictionary_tail + "/Length " +
             Decimal(static_cast<std::int64_t>(data.size())) + ">>\nstream\n" + data +
             "\nendstream\nendobj\n";
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
