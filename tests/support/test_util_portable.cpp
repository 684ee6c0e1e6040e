// The parts of the test helpers that build on every system (the Windows test
// build compiles only this file of support/): file contents and byte
// comparisons.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include "support/test_util.h"

namespace quillane::test {
namespace {

// Folder names may only hold what every file system accepts.
std::string SafeName(std::string name) {
  for (char& c : name) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
    if (!keep) c = '_';
  }
  return name;
}

}  // namespace

ScratchDir::ScratchDir() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "quillane-";
  if (info != nullptr) name += SafeName(std::string(info->test_suite_name()) + "." + info->name());
  // A fresh name: create_directory fails on one that exists already.
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = std::filesystem::temp_directory_path() /
            (name + "-" + std::to_string(random()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(path_)) return;
  }
  throw std::runtime_error("cannot create a scratch folder for " + name);
}

ScratchDir::~ScratchDir() {
  if (::testing::Test::HasFailure()) {
    std::fprintf(stderr, "scratch folder kept: %s\n", path_.string().c_str());
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::File(const std::string& name) const { return (path_ / name).string(); }

std::string ScratchDir::Write(const std::string& name, const std::string& bytes) const {
  WriteFileBytes(path_ / name, bytes);
  return File(name);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path.string());
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read " + path.string());
  return bytes;
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string RegistryWithReplaceObject(const std::string& value) {
  return "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Bramblecote Software\\quillane]\r\n"
         "\"ReplaceObject\"=\"" +
         value + "\"\r\n\r\n";
}

int CountRenamedImageNames(const std::string& input, const std::string& output) {
  if (input.size() != output.size()) return -1;
  int renamed = 0;
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (input[i] == output[i]) continue;
    if (input.compare(i, 5, "Image") != 0 || output.compare(i, 5, "Vexlo") != 0) return -1;
    ++renamed;
    i += 4;  // the rest of the renamed name
  }
  return renamed;
}

std::string EscapeBytes(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (c == '\\') {
      text += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7F) {
      text += c;
    } else {
      text += "\\x";
      text += kHex[byte >> 4];
      text += kHex[byte & 0x0F];
    }
  }
  return text;
}

std::string DescribeFirstDifference(const std::string& expected, const std::string& actual,
                                    std::size_t context) {
  if (expected == actual) return {};
  const auto mismatch =
      std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  const auto offset = static_cast<std::size_t>(mismatch.first - expected.begin());
  const std::size_t from = offset > context ? offset - context : 0;
  std::ostringstream text;
  text << "expected " << expected.size() << " bytes, got " << actual.size()
       << "; first difference at offset " << offset << "\n"
       << "  expected [" << from << "..]: " << EscapeBytes(expected.substr(from, 2 * context))
       << "\n"
       << "  actual   [" << from
       << "..]: " << EscapeBytes(actual.substr(std::min(from, actual.size()), 2 * context)) << "\n";
  return text.str();
}

::testing::AssertionResult BytesEqual(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << DescribeFirstDifference(expected, actual);
}

}  // namespace quillane::test
