#include "pdf/objects/document.h"

#include <gtest/gtest.h>

#include <string>

#include "pdf/objects/cross_reference.h"
#include "support/memory_file_access.h"

namespace quillane {
namespace {

using test::MemoryFileAccess;

// The reader's first piece ends inside the 4 KiB block that holds the
// object's header; wherever that end falls in the object (inside a name, a
// number, a reference, between the two ">" of a ">>"), the object is read
// whole from a larger piece.
TEST(Document, AnObjectIsReadWhereverTheFirstPieceEnds) {
  std::string fonts;
  for (int i = 0; i < 20; ++i) fonts += "/F" + std::to_string(i) + " << /X 14 0 R >> ";
  const std::string object = "<< \r/Type /Page \r/Parent 2 0 R \r/Resources << /Font << " + fonts +
                             ">> /ProcSet [ /PDF /Text ] >> \r>> \rendobj\r";
  for (std::size_t shift = 0; shift < object.size(); ++shift) {
    std::string bytes = "%PDF-1.4\n%" + std::string(3700 + shift, 'x') + "\n";
    const std::size_t at = bytes.size();
    bytes += "1 0 obj\r" + object;
    const std::size_t xref = bytes.size();
    std::string offset = std::to_string(at);
    offset.insert(0, 10 - offset.size(), '0');
    bytes += "xref\n0 2\n0000000000 65535 f\r\n" + offset + " 00000 n\r\n";
    bytes += "trailer<</Size 2/Root 1 0 R>>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    MemoryFileAccess source(bytes);
    CrossReferenceReading reading = CrossReference::Read(source);
    ASSERT_TRUE(reading.Xref) << reading.Reason;
    const Document document(source, std::move(*reading.Xref));
    const ObjectLookup lookup = document.Lookup(MakeObjectKey(1, 0));
    ASSERT_TRUE(lookup.Object) << "shift " << shift << ": " << lookup.Reason;
    EXPECT_EQ(lookup.Object->End, static_cast<Position>(bytes.find("endobj") + 6));
    EXPECT_NE(lookup.Object->Value.Find("Resources"), nullptr) << "shift " << shift;
  }
}

}  // namespace
}  // namespace quillane
