#pragma once

#include <string>
#include <vector>

namespace kestrel {

// Where a folder lies below the volume's root: the names of the folders from
// the root down, each as the scan shows it (a deleted folder under the name
// it was recovered with). Empty for the root itself.
using FolderPath = std::vector<std::string>;

// The path as text: "/" for the root, else "/" before every name
// ("/DCIM/100CANON"). A name is written as it is, even one holding a "/".
std::string folder_path_text(const FolderPath& path);

}  // namespace kestrel
