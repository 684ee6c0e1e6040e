// The fixture of the pdf/ tests: a document held by an in-memory FileAccess
// (no file system is touched), with a log hook that records the diagnostic
// lines of the code under test for comparison.
#ifndef QUILLANE_TESTS_SUPPORT_MEMORY_PDF_H_
#define QUILLANE_TESTS_SUPPORT_MEMORY_PDF_H_

#include <string>
#include <string_view>
#include <vector>

#include "pdf/raw/scanner.h"
#include "support/memory_file_access.h"

namespace quillane::test {

class MemoryPdf {
 public:
  // `viewBytes` as for MemoryFileAccess.
  explicit MemoryPdf(std::string_view bytes, Position viewBytes = 0) : source(bytes, viewBytes) {
    log = [this](const Text& line) { lines.push_back(line); };
  }
  MemoryPdf(const MemoryPdf&) = delete;
  MemoryPdf& operator=(const MemoryPdf&) = delete;

  // The recorded lines joined by " | ", for compact assertions.
  std::string Lines() const {
    std::string joined;
    for (const auto& line : lines) joined += (joined.empty() ? "" : " | ") + line;
    return joined;
  }

  MemoryFileAccess source;
  std::vector<Text> lines;
  LogHook log;
};

}  // namespace quillane::test

#endif  // QUILLANE_TESTS_SUPPORT_MEMORY_PDF_H_
