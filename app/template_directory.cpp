#include "app/template_directory.h"

#include "platform/platform.h"

namespace quillane {

namespace {

// Every template is deployed with this one; its presence marks the folder.
constexpr char kFirstTemplate[] = "otherimg.dat";

}  // namespace

Text TemplateDirectory(const Text& executablePath,
                       const std::function<bool(const Text&)>& fileExists) {
  Text beside = platform::DirectoryOf(executablePath);
  if (beside.empty()) return {};
  if (fileExists(beside + kFirstTemplate)) return beside;

  // The ".." is left for the file system to resolve: the executable's folder
  // may be reached through a symbolic link, which a textual shortening would
  // get wrong. The separator is the path's own, but "/" after a drive letter
  // ("C:quillane.exe"), where ':' cannot separate further names.
  const Text separator = beside.back() == '\\' ? "\\" : "/";
  Text shared = beside + ".." + separator + "share" + separator + "quillane" + separator;
  if (fileExists(shared + kFirstTemplate)) return shared;
  return beside;
}

}  // namespace quillane
