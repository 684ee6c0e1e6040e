#include "pdf/objects/object_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "pdf/syntax/lexer.h"

namespace quillane {
namespace {

// The references of an array as ReadObject builds them, "N.G" each, or
// "none" for bytes it reads as no array.
std::string BuiltReferences(const std::string& bytes) {
  Lexer lexer(bytes);
  const std::optional<PdfObject> array = ReadObject(lexer, true);
  if (!array || array->Kind != PdfObject::Type::kArray) return "none";
  std::string text;
  for (const PdfObject& item : array->Items) {
    if (item.Kind != PdfObject::Type::kReference) continue;
    text += std::to_string(item.Number) + "." + std::to_string(item.Generation) + " ";
  }
  return text;
}

std::string VisitedReferences(const std::string& bytes) {
  std::string text;
  bool any = false;
  EachArrayReference(bytes, [&](std::int64_t number, std::int64_t generation) {
    any = true;
    text += std::to_string(number) + "." + std::to_string(generation) + " ";
  });
  return text.empty() && !any && BuiltReferences(bytes) == "none" ? "none" : text;
}

// A page tree's /Kids is read reference by reference from its bytes: the
// same references, in the same places, as the built array holds, and none
// where the array is no array at all.
TEST(EachArrayReference, FindsTheReferencesReadObjectReads) {
  const struct {
    const char* bytes;
    const char* references;
  } cases[] = {
      {"[3 0 R 6 0 R 9 1 R]", "3.0 6.0 9.1 "},
      {"[3 0 R]", "3.0 "},
      {"[]", ""},
      {"[ 1 2 3 R 4 ]", "2.3 "},                           // the two integers before "R"
      {"[1 0 R [5 0 R] <</K 6 0 R>> 7 0 R]", "1.0 7.0 "},  // nested ones are not kids
      {"[1 0 R/Name(str)<ab>true null 2.5 8 0 R]", "1.0 8.0 "},
      {"[%comment\n4 0 R\r\n5 0\nR]", "4.0 5.0 "},
      {"[1 0 [2] R]", "none"},  // an "R" without its integers
      {"[-1 0 R]", "none"},
      {"[1 0 R", "none"},  // unclosed
      {"3 0 R", "none"},   // no array
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BuiltReferences(c.bytes), c.references) << c.bytes;
    EXPECT_EQ(VisitedReferences(c.bytes), c.references) << c.bytes;
  }
}

}  // namespace
}  // namespace quillane
