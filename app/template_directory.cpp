#include "app/template_directory.h"

#include "platform/platform.h"

namespace quillane {

namespace {

// Every template is deployed with this one; its presence marks the folder.
constexpr char kFirstTemplate[] = "otherimg.dat";

}  // namespace

Text TemplateDirectory(const Text& executablePath,
                       const std::function<bool(const Text&)>& fileExists) {
  std::size_t end = executablePath.size();
  while (end > 0 && !platform::IsPathSeparator(executablePath[end - 1])) --end;
  if (end == 0) return {};
  Text beside = executablePath.substr(0, end);
  if (fileExists(beside + kFirstTemplate)) return beside;

  // The ".." is left for the file system to resolve: the executable's folder
  // may be reached through a symbolic link, which a textual shortening would
  // get wrong. The separator is the path's own, but "/" after a drive letter
  // ("C:quillane.exe"), where ':' cannot separate further names.
  const Text separator = executablePath[end - 1] == '\\' ? "\\" : "/";
  Text shared = beside + ".." + separator + "share" + separator + "quillane" + separator;
  if (fileExists(shared + kFirstTemplate)) return shared;
  return beside;
}

}  // namespace quillane
