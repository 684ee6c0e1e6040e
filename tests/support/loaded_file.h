// Test helpers for the file-access tests: a real file in a fresh temporary
// folder, loaded into a WindowedFileAccess.
#ifndef QUILLANE_TESTS_SUPPORT_LOADED_FILE_H_
#define QUILLANE_TESTS_SUPPORT_LOADED_FILE_H_

#include <string>

#include "fileaccess/fileaccess.h"
#include "support/test_util.h"

namespace quillane::test {

// `bytes` written to "input.pdf" in a folder of its own and loaded.
class LoadedFile {
 public:
  explicit LoadedFile(const std::string& bytes) { source.Load(folder.Write("input.pdf", bytes)); }

  ScratchDir folder;
  WindowedFileAccess source;
};

}  // namespace quillane::test

#endif  // QUILLANE_TESTS_SUPPORT_LOADED_FILE_H_
