#include "pdf/update/xref_section.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "support/test_util.h"

namespace quillane {
namespace {

using test::RunProcess;

TEST(CompleteTable, ListsEveryObjectInRunsAfterTheFreeHead) {
  const std::vector<XrefRow> rows = {
      {1, 0, false, 10, 0, 0}, {2, 0, false, 50, 0, 0}, {5, 3, false, 100, 0, 0}};
  EXPECT_EQ(CompleteTable(rows, {"1 0 R", "", "[<01><02>]"}, 200),
            "xref\r\n0 3\r\n0000000000 65535 f\r\n0000000010 00000 n\r\n0000000050 00000 n\r\n"
            "5 1\r\n0000000100 00003 n\r\ntrailer\r\n<<\r\n/Size 6\r\n/Root 1 0 R\r\n"
            "/ID [<01><02>]\r\n>>\r\nstartxref\r\n200\r\n%%EOF\r\n");
  EXPECT_THROW(CompleteTable({{1, 0, false, Position{10000000000}, 0, 0}}, {}, 0), Error);
}

// A file whose only cross-reference is the section written here reads
// cleanly in qpdf, with every object where the rows say.
TEST(CompleteSections, QpdfReadsTheFileTheyDescribe) {
  if (!test::ProgramAvailable("qpdf")) GTEST_SKIP() << "qpdf not installed";
  test::ScratchDir dir;
  for (const bool stream : {false, true}) {
    std::string file = "%PDF-1.5\n";
    std::vector<XrefRow> rows;
    for (const std::string& body :
         {std::string("<</Type/Catalog/Pages 2 0 R>>"),
          std::string("<</Type/Pages/Kids[3 0 R]/Count 1>>"),
          std::string("<</Type/Page/Parent 2 0 R/MediaBox[0 0 10 10]>>")}) {
      const auto number = static_cast<std::int64_t>(rows.size()) + 1;
      rows.push_back({number, 0, false, static_cast<Position>(file.size()), 0, 0});
      file += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
    }
    const auto position = static_cast<Position>(file.size());
    file += stream ? CompleteStream(rows, {"1 0 R", "", ""}, 4, position)
                   : CompleteTable(rows, {"1 0 R", "", ""}, position);
    const std::string path = dir.Write(stream ? "stream.pdf" : "table.pdf", file);
    const test::ProcessResult check = RunProcess({"qpdf", "--check", path});
    EXPECT_EQ(check.exit_status, 0) << check.out << check.err;
    const std::string xref = RunProcess({"qpdf", "--show-xref", path}).out;
    for (const XrefRow& row : rows) {
      EXPECT_NE(xref.find(std::to_string(row.Number) +
                          "/0: uncompressed; offset = " + std::to_string(row.Offset)),
                std::string::npos)
          << xref;
    }
  }
}

}  // namespace
}  // namespace quillane
