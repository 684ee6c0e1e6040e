// The program's one exception type. Every error of a run (file access, number
// conversion, registry, damaged input) is an Error carrying the exact message
// that the user sees; nothing catches it but the entry point, which shows it in
// the platform's error box.
#ifndef QUILLANE_BASE_ERROR_H_
#define QUILLANE_BASE_ERROR_H_

#include <stdexcept>
#include <string>

namespace quillane {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace quillane

#endif  // QUILLANE_BASE_ERROR_H_
