// The child-process helpers of the Windows test build: it starts no checker
// programs. The checks through qpdf, poppler, MuPDF and the other tools run
// in the POSIX build on the same code, and tests/wine runs the Windows
// program whole; so a test that asks for a checker is skipped here, and one
// that starts a process without asking fails with the reason.
#include <gtest/gtest.h>

#include "support/test_util.h"

namespace quillane::test {

bool ProgramAvailable(const std::string& /*program*/) { return false; }

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& /*options*/) {
  ADD_FAILURE() << "the Windows test build starts no child process ("
                << (argv.empty() ? std::string() : argv.front()) << ")";
  return {};
}

}  // namespace quillane::test
