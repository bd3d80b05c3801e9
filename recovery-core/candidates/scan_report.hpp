#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/candidates/file_dates.hpp"
#include "recovery-core/candidates/file_pieces.hpp"
#include "recovery-core/candidates/folder_path.hpp"
#include "recovery-core/chains/cluster_area.hpp"
#include "recovery-core/content/content_check.hpp"
#include "recovery-core/content/content_signature.hpp"
#include "recovery-core/json/json_stream_writer.hpp"
#include "recovery-core/json/json_value.hpp"

namespace kestrel {

enum class FilesystemKind { Fat32, Exfat, Unknown, Fat16, Fat12, Ntfs };
// Carved: found by its content in free space, read as one run of `size` bytes
// from `data_offset`, or as the two pieces it was completed from. DataRuns: the
// file's metadata still lists every piece (RecordedRuns). Resident: its bytes
// are held in the metadata itself (HeldBytes).
enum class Recoverability { ContiguousLikely, FatChain, MetadataOnly, Carved, DataRuns, Resident };

std::string_view filesystem_kind_name(FilesystemKind kind);
std::string_view recoverability_name(Recoverability recoverability);

struct BootValidation {
  std::optional<bool> main_boot_checksum_valid;
  std::optional<bool> backup_boot_checksum_valid;
  bool using_backup_boot = false;

  friend bool operator==(const BootValidation&, const BootValidation&) = default;
};

// A deleted file the scan offers for recovery.
//
// A candidate does not hold its cluster offsets: a scan can find many deleted
// entries that claim long chains, and holding every list would make memory
// grow with what the image claims. It keeps the volume's cluster area instead, and
// extraction rebuilds the offsets through the same open image by the same rules
// (see candidate_cluster_offsets).
struct RecoveryCandidate {
  std::string id;
  std::uint32_t partition_index = 0;
  FilesystemKind file_system = FilesystemKind::Fat32;
  std::string name;
  std::uint64_t size = 0;
  std::uint64_t first_cluster = 0;
  std::uint64_t data_offset = 0;
  std::uint32_t cluster_size = 0;
  Recoverability recoverability = Recoverability::ContiguousLikely;
  std::optional<FileKind> detected_kind;
  Confidence confidence = Confidence::Low;
  std::uint8_t confidence_score = 0;
  std::vector<std::string> validation_notes;
  bool deleted = true;
  // The folder the candidate was found in; absent when no folder led to it.
  // Written only when the caller asks for it (see DirectoryMember).
  std::optional<FolderPath> directory;
  // Where the file's bytes lie when they are not one run from `data_offset`
  // (a carved file completed from two pieces, a deleted file planned around
  // the clusters of others); written as "pieces" when not empty, as null for
  // any other carved file, left out for the rest.
  FilePieces pieces;
  // When the file was changed, made and read; written only when the caller
  // asks for it (see DatesMember).
  FileDates dates;
  // The dates kept beside the file's name where the file system keeps a second
  // set (NTFS) and they differ from `dates`; written as "name_times".
  std::optional<FileDates> name_dates;

  // Not written to JSON: where the candidate's chain is found again.
  DataLayout layout;
  // The entry says its clusters are contiguous: the table is never read for it.
  bool no_fat_chain = false;
  // The first cluster was rebuilt from the entries around it (a FAT32 entry
  // whose high word deletion cleared), not read from the entry as it stands.
  bool start_rebuilt = false;

  friend bool operator==(const RecoveryCandidate&, const RecoveryCandidate&) = default;
};

struct FilesystemReport {
  std::uint32_t partition_index = 0;
  FilesystemKind kind = FilesystemKind::Unknown;
  std::optional<std::string> label;
  BootValidation validation;
  std::vector<RecoveryCandidate> candidates;
  std::vector<std::string> warnings;

  friend bool operator==(const FilesystemReport&, const FilesystemReport&) = default;
};

// Whether a candidate's document ends with the "directory" member (its folder
// path, or null). Scans that walk every folder write it; others leave it out,
// so their documents keep the layout they always had.
enum class DirectoryMember { Omitted, Written };

// Whether a candidate's document ends with "modified", "created" and
// "accessed" (after "directory" when that is written), each its text or null.
enum class DatesMember { Omitted, Written };

JsonValue to_json(const BootValidation& validation);
JsonValue to_json(const RecoveryCandidate& candidate,
                  DirectoryMember directory = DirectoryMember::Omitted,
                  DatesMember dates = DatesMember::Omitted);
JsonValue to_json(const FilesystemReport& report,
                  DirectoryMember directory = DirectoryMember::Omitted,
                  DatesMember dates = DatesMember::Omitted);

// A report written as its candidates come: the opening writes the object up to
// the "candidates" array, opened; the candidates then follow as values; the
// closing ends that array, writes "warnings" and ends the object. Together
// they give the text to_json gives for the whole report.
void write_report_opening(JsonStreamWriter& writer, const FilesystemReport& report);
void write_report_closing(JsonStreamWriter& writer, const FilesystemReport& report);

}  // namespace kestrel
