#include "recovery-core/ntfs/ntfs_folder_paths.hpp"

#include <algorithm>

#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/ntfs/ntfs_attribute_list.hpp"
#include "recovery-core/ntfs/ntfs_file_name.hpp"
#include "recovery-core/ntfs/ntfs_record_limits.hpp"

namespace kestrel {

namespace {

// Whether the folder's record is still the one the reference was made to.
bool same_folder(std::uint16_t record_sequence, bool in_use, NtfsReference reference) {
  if (reference.sequence == 0 || record_sequence == reference.sequence) return true;
  return !in_use && record_sequence == static_cast<std::uint16_t>(reference.sequence + 1);
}

}  // namespace

std::expected<NtfsFolderPaths::Folder, RecoveryError> NtfsFolderPaths::folder(
    std::uint64_t number) {
  if (const auto known = folders_.find(number); known != folders_.end()) return known->second;
  Folder folder;
  if (number < mft_.record_count()) {
    KESTREL_TRY_ASSIGN(record, mft_.read(number));
    if (*record && (*record)->directory && (*record)->base.record == 0) {
      KESTREL_TRY_ASSIGN(extensions, ntfs_extension_records(mft_, number, **record));
      if (auto name = user_file_name(**record, *extensions)) {
        folder = {true, (*record)->in_use, (*record)->sequence, name->parent,
                  std::move(name->name)};
      }
    }
  }
  if (folders_.size() >= kRememberedFolders) folders_.clear();
  folders_.emplace(number, folder);
  return folder;
}

std::expected<NtfsFolderPlace, RecoveryError> NtfsFolderPaths::place_of(NtfsReference parent) {
  NtfsFolderPlace place;
  NtfsReference at = parent;
  while (at.record != kRootFolderRecord) {
    if (place.path.size() == kDeepestFolder) return NtfsFolderPlace{{}, true, false};
    KESTREL_TRY_ASSIGN(found, folder(at.record));
    if (!found->usable || !same_folder(found->sequence, found->in_use, at)) {
      return NtfsFolderPlace{{}, true, false};
    }
    place.in_deleted_folder = place.in_deleted_folder || !found->in_use;
    place.path.push_back(found->name);
    at = found->parent;
  }
  std::reverse(place.path.begin(), place.path.end());
  return place;
}

}  // namespace kestrel
