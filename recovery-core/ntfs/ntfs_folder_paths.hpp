#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <unordered_map>

#include "recovery-core/candidates/folder_path.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/ntfs/ntfs_mft.hpp"
#include "recovery-core/ntfs/ntfs_record.hpp"

namespace kestrel {

// A file's folder as its parent references give it.
struct NtfsFolderPlace {
  FolderPath path;
  bool lost = false;               // a folder on the way was reused or cannot be read: no path
  bool in_deleted_folder = false;  // a folder on the way is deleted
};

// Rebuilds folder paths from the parent reference each record holds, up to
// the root (record 5). A reference whose sequence number the folder's record
// no longer has means the record was reused for something else; a deleted
// folder's record has its sequence number one higher than while it lived.
class NtfsFolderPaths {
 public:
  explicit NtfsFolderPaths(NtfsMft& mft) : mft_(mft) {}

  std::expected<NtfsFolderPlace, RecoveryError> place_of(NtfsReference parent);

 private:
  struct Folder {
    bool usable = false;  // a folder record with a name
    bool in_use = false;
    std::uint16_t sequence = 0;
    NtfsReference parent;
    std::string name;
  };

  std::expected<Folder, RecoveryError> folder(std::uint64_t record);

  NtfsMft& mft_;
  std::unordered_map<std::uint64_t, Folder> folders_;
};

}  // namespace kestrel
