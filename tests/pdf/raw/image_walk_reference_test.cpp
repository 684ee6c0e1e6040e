// The image walk skips from "/" to "/" and looks at a key name only as far as
// "Subtype" reaches. These tests hold it against the plain walk that reads one
// byte at a time, on many small documents made of the tokens where the two
// could part ways.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "pdf/raw/image_walk.h"
#include "support/memory_pdf.h"
#include "support/test_util.h"

namespace quillane {
namespace {

using test::MemoryPdf;

// The walk as first described, one step per byte. Returns where each hit's
// value name starts; "Found image @" reports the byte that ended it.
struct Hit {
  std::size_t nameStart;
  std::size_t end;
};

std::vector<Hit> ByteByByteWalk(const std::string& bytes) {
  std::vector<Hit> hits;
  bool inName = false;
  bool wantValue = false;
  std::size_t nameStart[2] = {0, 0};
  for (std::size_t p = 0; p < bytes.size(); ++p) {
    const auto c = static_cast<std::uint8_t>(bytes[p]);
    const int slot = wantValue ? 1 : 0;
    if (!inName) {
      if (c == '/') {
        inName = true;
        nameStart[slot] = p + 1;
      }
    } else if (!wantValue) {
      if (IsWhiteSpace(c) || c == '/') {
        inName = false;
        if (bytes.compare(nameStart[0], p - nameStart[0], "Subtype") == 0) wantValue = true;
        if (c == '/') --p;
      } else if (IsDelimiter(c)) {
        inName = false;
        wantValue = false;
      }
    } else if (IsWhiteSpace(c) || IsDelimiter(c)) {
      if (p - nameStart[1] < 10 && bytes.compare(nameStart[1], p - nameStart[1], "Image") == 0) {
        hits.push_back({nameStart[1], p});
      }
      inName = false;
      wantValue = false;
    }
  }
  return hits;
}

// A document of random tokens, weighted towards the ones that start, end or
// almost spell the two names.
std::string RandomDocument(std::mt19937& random) {
  static const char* const kTokens[] = {
      "/",      "/",   "Subtype", "Subtype", "Image", "Image", "Subtyp", "Subtypes",  "Imag",
      "Images", "#49", " ",       "\n",      "\r\n",  "\t",    "(",      ")",         "<<",
      ">>",     "[",   "]",       "{",       "%",     "x",     "e",      "12 0 obj\n"};
  const auto tokens = static_cast<int>(std::size(kTokens));
  std::string document;
  const int count = std::uniform_int_distribution<int>(0, 300)(random);
  for (int i = 0; i < count; ++i) {
    document += kTokens[std::uniform_int_distribution<int>(0, tokens - 1)(random)];
  }
  // A NUL is white space too, and easily lost by text handling.
  if (count % 7 == 3) document.insert(document.size() / 2, 1, '\0');
  return document;
}

TEST(ImageWalkAgainstByteByByteWalk, FindsAndRenamesTheSameNames) {
  std::mt19937 random(20240501);
  for (int round = 0; round < 300; ++round) {
    const std::string document = RandomDocument(random);
    const std::vector<Hit> expected = ByteByByteWalk(document);
    std::string expectedLines;
    std::string expectedBytes = document;
    for (const Hit& hit : expected) {
      expectedLines += (expectedLines.empty() ? "" : " | ") + std::string("Found image @ ") +
                       std::to_string(hit.end);
      expectedBytes.replace(hit.nameStart, 5, "Vexlo");
    }

    // Views as short as allowed put their ends inside names and before
    // look-aheads; 0 hands out the whole document at once.
    for (const Position viewBytes : {Position{0}, kMinimumLoadedView, kMinimumLoadedView + 1}) {
      MemoryPdf file(document, viewBytes);
      RenameImageSubtypes(file.source, file.log);
      ASSERT_EQ(file.Lines(), expectedLines) << viewBytes << test::EscapeBytes(document);
      ASSERT_EQ(file.source.Substring(0, file.source.Size()), expectedBytes)
          << viewBytes << test::EscapeBytes(document);
    }
  }
}

}  // namespace
}  // namespace quillane
