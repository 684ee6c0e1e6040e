// The layering of the product code, read from its #include lines: each folder
// may include only its own headers and those of the folders below it, the
// system-specific parts of platform/ are reached only from inside platform/,
// and no system header of one platform appears outside platform/. A new arrow
// that points up fails here, before it can rot the design.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace quillane {
namespace {

namespace fs = std::filesystem;

// The layers, each with the folders it may include besides its own. pdf/ is
// split into layers of its own, named with their subfolder.
const std::map<std::string, std::set<std::string>>& AllowedLayers() {
  static const std::map<std::string, std::set<std::string>> allowed = {
      {"app",
       {"reader", "pdf/rewrite", "pdf/update", "pdf/content", "pdf/objects", "pdf/raw",
        "pdf/filters", "pdf/syntax", "fonts", "fileaccess", "platform", "base"}},
      {"reader", {"platform", "base"}},
      {"pdf/rewrite",
       {"pdf/update", "pdf/content", "pdf/objects", "pdf/raw", "pdf/filters", "pdf/syntax", "fonts",
        "fileaccess", "base"}},
      {"pdf/update", {"pdf/objects", "pdf/raw", "pdf/filters", "pdf/syntax", "fileaccess", "base"}},
      {"pdf/content", {"pdf/filters", "pdf/syntax", "base"}},
      {"pdf/objects", {"pdf/filters", "pdf/syntax", "fileaccess", "base"}},
      {"pdf/raw", {"pdf/syntax", "fileaccess", "base"}},
      {"pdf/filters", {"pdf/syntax", "base"}},
      {"pdf/syntax", {"base"}},
      {"fileaccess", {"platform", "base"}},
      {"platform", {"base"}},
      {"fonts", {"base"}},
      {"base", {}},
  };
  return allowed;
}

// The layer of a path relative to the source root: its first folder, or for
// pdf/ its first two ("pdf/raw/trailer.cpp" is in "pdf/raw").
std::string LayerOf(const std::string& path) {
  const std::size_t first = path.find('/');
  if (path.compare(0, first, "pdf") != 0 || first == std::string::npos) {
    return path.substr(0, first);
  }
  return path.substr(0, path.find('/', first + 1));
}

// Headers of one operating system; only platform/ may include them.
bool IsSystemSpecificHeader(const std::string& header) {
  static const std::set<std::string> headers = {"windows.h", "winbase.h", "shellapi.h", "unistd.h",
                                                "fcntl.h",   "dirent.h",  "spawn.h",    "signal.h",
                                                "pwd.h",     "poll.h"};
  return headers.count(header) != 0 || header.rfind("sys/", 0) == 0;
}

// Why `file` (a path relative to the source root, "pdf/raw/scanner.cpp") may not
// include `target` (as written between the delimiters), or empty when it may.
// Quoted includes name project files by their path from the source root.
std::string ArrowProblem(const std::string& file, const std::string& target, bool quoted) {
  const std::string layer = LayerOf(file);
  if (!quoted) {
    if (IsSystemSpecificHeader(target) && layer != "platform") {
      return "system header <" + target + "> outside platform/";
    }
    return {};
  }
  const std::string targetLayer = LayerOf(target);
  const auto allowed = AllowedLayers().find(layer);
  if (allowed == AllowedLayers().end()) return {};
  if (targetLayer != layer && allowed->second.count(targetLayer) == 0) {
    return layer + "/ may not include " + targetLayer + "/";
  }
  // The two implementations of the seam are private to platform/ and to
  // each other.
  for (const std::string system : {"platform/posix/", "platform/win32/"}) {
    if (target.rfind(system, 0) == 0 && file.rfind(system, 0) != 0) {
      return "only " + system + " may include its own files";
    }
  }
  return {};
}

struct Include {
  std::string target;
  bool quoted;
  int line;
};

std::vector<Include> IncludesOf(const fs::path& path) {
  std::vector<Include> includes;
  std::ifstream in(path);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::size_t hash = line.find_first_not_of(" \t");
    if (hash == std::string::npos || line.compare(hash, 8, "#include") != 0) continue;
    const std::size_t open = line.find_first_of("\"<", hash + 8);
    if (open == std::string::npos) continue;
    const char close = line[open] == '"' ? '"' : '>';
    const std::size_t end = line.find(close, open + 1);
    if (end == std::string::npos) continue;
    includes.push_back({line.substr(open + 1, end - open - 1), close == '"', number});
  }
  return includes;
}

TEST(Layering, ArrowsAreJudgedByTheLayerTable) {
  const struct {
    const char* file;
    const char* target;
    bool quoted;
    bool allowed;
  } cases[] = {
      {"app/image_remover.cpp", "reader/launch.h", true, true},
      {"app/image_remover.cpp", "platform/platform.h", true, true},
      {"pdf/raw/scanner.h", "fileaccess/fileaccess.h", true, true},
      {"pdf/update/templates.cpp", "platform/platform.h", true, false},
      {"pdf/update/templates.cpp", "pdf/filters/stream_filters.h", true, true},
      {"pdf/syntax/lexer.cpp", "pdf/raw/scanner.h", true, false},
      {"pdf/content/content_stream.cpp", "pdf/objects/document.h", true, false},
      {"pdf/objects/document.cpp", "pdf/content/content_stream.h", true, false},
      {"pdf/rewrite/inline_images.cpp", "pdf/objects/document.h", true, true},
      {"fileaccess/fileaccess.cpp", "app/platform.h", true, false},
      {"reader/launch.cpp", "pdf/raw/scanner.h", true, false},
      {"base/text.cpp", "platform/platform.h", true, false},
      {"app/options.cpp", "platform/posix/registry_file.h", true, false},
      {"platform/posix/registry.cpp", "platform/posix/registry_file.h", true, true},
      {"platform/win32/files.cpp", "platform/posix/posix_util.h", true, false},
      {"platform/posix/files.cpp", "unistd.h", false, true},
      {"fileaccess/fileaccess.cpp", "sys/mman.h", false, false},
      {"app/main.cpp", "windows.h", false, false},
      {"pdf/raw/scanner.cpp", "cstdint", false, true},
      {"fonts/truetype_font.cpp", "base/error.h", true, true},
      {"fonts/truetype_font.cpp", "pdf/syntax/lexer.h", true, false},
      {"pdf/raw/scanner.cpp", "fonts/truetype_font.h", true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ArrowProblem(c.file, c.target, c.quoted).empty(), c.allowed)
        << c.file << " -> " << c.target;
  }
}

TEST(Layering, EveryIncludeOfTheProductPointsDown) {
  const fs::path root = QUILLANE_SOURCE_DIR;
  int files = 0;
  for (const auto& [layer, unused] : AllowedLayers()) {
    // A layer may not exist yet in this checkout.
    if (!fs::exists(root / layer)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / layer)) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".h" && extension != ".cpp") continue;
      ++files;
      const std::string file = fs::relative(entry.path(), root).generic_string();
      std::ifstream in(entry.path());
      const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      if (layer != "platform") {
        EXPECT_EQ(text.find("_WIN32"), std::string::npos)
            << file << ": system tests belong in platform/";
      }
      for (const Include& include : IncludesOf(entry.path())) {
        const std::string problem = ArrowProblem(file, include.target, include.quoted);
        EXPECT_EQ(problem, "") << file << ":" << include.line << " includes " << include.target;
      }
    }
  }
  EXPECT_GT(files, 30) << "the source tree was not found at " << root;
}

}  // namespace
}  // namespace quillane
