#include "pdf/update/templates.h"

#include <gtest/gtest.h>

#include <string>

#include "support/zlib_data.h"

namespace quillane {
namespace {

using namespace std::string_literals;

std::string Zlib(const std::string& data) { return test::ZlibCompress(data); }

TEST(PlaceholderGray, ReadsTheTemplatesFirstSample) {
  const struct {
    std::string templateBytes;
    int gray;
  } cases[] = {
      {"<</Type/XObject/Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray"
       "/BitsPerComponent 8/Length 1>>\nstream\n\xD0\nendstream\n",
       0xD0},
      // The shipped template: an ASCII sample mapped by /Decode onto the gray.
      {"<</Subtype/Image/Width 1/Height 1/ColorSpace/DeviceGray/BitsPerComponent 8"
       "/Decode[0 2.]/Length 1>>\nstream\nh\nendstream\n",
       0xD0},
      {"<</ColorSpace/DeviceGray/BitsPerComponent 8/Decode[1 0]/Length 1>>\nstream\n\x40"s, 0xBF},
      {"<</ColorSpace/DeviceGray/BitsPerComponent 8/Decode[0 9]/Length 1>>\nstream\n\x40"s, 0xFF},
      {"<</ColorSpace/DeviceGray/BitsPerComponent 8/Decode[0]/Length 1>>\nstream\n\x40"s, 0xD0},
      {"<</ColorSpace/DeviceGray/BitsPerComponent 8/Filter/FlateDecode/Length 9>>\r\nstream\r\n" +
           Zlib("\x40"),
       0x40},
      {"<</ColorSpace/DeviceRGB/BitsPerComponent 8/Length 3>>\nstream\n\xFF\x00\x00"s, 76},
      // Anything else: the fallback.
      {"<</ColorSpace/DeviceCMYK/BitsPerComponent 8/Length 4>>\nstream\n\0\0\0\0"s, 0xD0},
      {"<</ColorSpace/DeviceGray/BitsPerComponent 1/Length 1>>\nstream\n\x00"s, 0xD0},
      {"<</ColorSpace/DeviceGray/BitsPerComponent 8/Filter/DCTDecode>>\nstream\n\x00"s, 0xD0},
      {"<</ColorSpace/DeviceGray/BitsPerComponent 8/Length 0>>\nstream\n\nendstream", 0xD0},
      {"garbage", 0xD0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PlaceholderGray(c.templateBytes), c.gray) << c.templateBytes;
  }
}

}  // namespace
}  // namespace quillane
