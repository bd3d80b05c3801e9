#include "recovery-core/candidates/folder_path.hpp"

namespace kestrel {

std::string folder_path_text(const FolderPath& path) {
  if (path.empty()) return "/";
  std::string text;
  for (const std::string& name : path) text += "/" + name;
  return text;
}

}  // namespace kestrel
