// Flate data for tests, made with zlib itself rather than with the code under
// test.
#ifndef QUILLANE_TESTS_SUPPORT_ZLIB_DATA_H_
#define QUILLANE_TESTS_SUPPORT_ZLIB_DATA_H_

#include <zlib.h>

#include <string>

namespace quillane::test {

// `data` as a zlib stream at `level`.
inline std::string ZlibCompress(const std::string& data, int level = 6) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size,
            reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), level);
  out.resize(size);
  return out;
}

}  // namespace quillane::test

#endif  // QUILLANE_TESTS_SUPPORT_ZLIB_DATA_H_
