#pragma once

#include <cstdint>
#include <expected>
#include <vector>

#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/ntfs/ntfs_mft.hpp"
#include "recovery-core/ntfs/ntfs_record.hpp"

namespace kestrel {

// The extension records a base record's $ATTRIBUTE_LIST names, read and
// parsed: a file with more attributes or runs than one record holds keeps
// the rest there. Only records whose base reference points back to `number`
// (and its sequence number) are taken; each at most once, at most a fixed
// number of them. Records that cannot be read or parsed are left out. None
// when the record has no list.
std::expected<std::vector<NtfsRecord>, RecoveryError> ntfs_extension_records(
    NtfsMft& mft, std::uint64_t number, const NtfsRecord& base);

}  // namespace kestrel
