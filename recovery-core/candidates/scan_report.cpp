#include "recovery-core/candidates/scan_report.hpp"

#include "recovery-core/json/json_layout.hpp"

namespace kestrel {

namespace {

JsonValue string_array(const std::vector<std::string>& texts) {
  JsonValue array = JsonValue::array();
  for (const std::string& text : texts) array.push_back(text);
  return array;
}

// The pieces of a file read from more than one place, in file order: where
// each starts in the image and how many of the file's bytes it holds.
JsonValue pieces_json(const FilePieces& pieces) {
  JsonValue array = JsonValue::array();
  for (const FilePiece& piece : pieces) {
    JsonValue value = JsonValue::object();
    value["offset"] = piece.offset;
    value["length"] = piece.length;
    array.push_back(std::move(value));
  }
  return array;
}

// The three dates as an object of their own.
JsonValue dates_json(const FileDates& dates) {
  JsonValue value = JsonValue::object();
  value["modified"] = json_or_null(dates.modified);
  value["created"] = json_or_null(dates.created);
  value["accessed"] = json_or_null(dates.accessed);
  return value;
}

}  // namespace

std::string_view filesystem_kind_name(FilesystemKind kind) {
  switch (kind) {
    case FilesystemKind::Fat32:
      return "fat32";
    case FilesystemKind::Fat16:
      return "fat16";
    case FilesystemKind::Fat12:
      return "fat12";
    case FilesystemKind::Exfat:
      return "exfat";
    case FilesystemKind::Unknown:
      return "unknown";
    case FilesystemKind::Ntfs:
      return "ntfs";
  }
  return {};
}

std::string_view recoverability_name(Recoverability recoverability) {
  switch (recoverability) {
    case Recoverability::ContiguousLikely:
      return "contiguous-likely";
    case Recoverability::FatChain:
      return "fat-chain";
    case Recoverability::MetadataOnly:
      return "metadata-only";
    case Recoverability::Carved:
      return "carved";
    case Recoverability::DataRuns:
      return "data-runs";
    case Recoverability::Resident:
      return "resident";
  }
  return {};
}

JsonValue to_json(const BootValidation& validation) {
  JsonValue value = JsonValue::object();
  value["main_boot_checksum_valid"] = json_or_null(validation.main_boot_checksum_valid);
  value["backup_boot_checksum_valid"] = json_or_null(validation.backup_boot_checksum_valid);
  value["using_backup_boot"] = validation.using_backup_boot;
  return value;
}

// The cluster area and the NoFatChain flag stay out of the document: they
// only tell extraction where to find the chain again.
JsonValue to_json(const RecoveryCandidate& candidate, DirectoryMember directory,
                  DatesMember dates) {
  JsonValue value = JsonValue::object();
  value["id"] = candidate.id;
  value["partition_index"] = candidate.partition_index;
  value["file_system"] = filesystem_kind_name(candidate.file_system);
  value["name"] = candidate.name;
  value["size"] = candidate.size;
  value["first_cluster"] = candidate.first_cluster;
  value["data_offset"] = candidate.data_offset;
  value["cluster_size"] = candidate.cluster_size;
  value["recoverability"] = recoverability_name(candidate.recoverability);
  value["detected_kind"] = candidate.detected_kind
                               ? JsonValue(file_kind_name(*candidate.detected_kind))
                               : JsonValue(nullptr);
  value["confidence"] = confidence_name(candidate.confidence);
  value["confidence_score"] = candidate.confidence_score;
  value["validation_notes"] = string_array(candidate.validation_notes);
  value["deleted"] = candidate.deleted;
  // A carved file always says whether it was put together from pieces (null:
  // found in one), so its document has every member a carved file can have.
  if (!candidate.pieces.empty()) {
    value["pieces"] = pieces_json(candidate.pieces);
  } else if (candidate.recoverability == Recoverability::Carved) {
    value["pieces"] = nullptr;
  }
  if (directory == DirectoryMember::Written) {
    value["directory"] = candidate.directory ? JsonValue(folder_path_text(*candidate.directory))
                                             : JsonValue(nullptr);
  }
  if (dates == DatesMember::Written) {
    value["modified"] = json_or_null(candidate.dates.modified);
    value["created"] = json_or_null(candidate.dates.created);
    value["accessed"] = json_or_null(candidate.dates.accessed);
    // A file system that records a second set of dates (NTFS, beside each
    // name) gives it where it differs from the first.
    if (candidate.file_system == FilesystemKind::Ntfs) {
      value["name_times"] =
          candidate.name_dates ? dates_json(*candidate.name_dates) : JsonValue(nullptr);
    }
  }
  return value;
}

JsonValue to_json(const FilesystemReport& report, DirectoryMember directory, DatesMember dates) {
  JsonValue value = JsonValue::object();
  value["partition_index"] = report.partition_index;
  value["kind"] = filesystem_kind_name(report.kind);
  value["label"] = json_or_null(report.label);
  value["validation"] = to_json(report.validation);
  JsonValue candidates = JsonValue::array();
  for (const RecoveryCandidate& candidate : report.candidates)
    candidates.push_back(to_json(candidate, directory, dates));
  value["candidates"] = std::move(candidates);
  value["warnings"] = string_array(report.warnings);
  return value;
}

void write_report_opening(JsonStreamWriter& writer, const FilesystemReport& report) {
  writer.begin_object();
  writer.member("partition_index", report.partition_index);
  writer.member("kind", filesystem_kind_name(report.kind));
  writer.member("label", json_or_null(report.label));
  writer.member("validation", to_json(report.validation));
  writer.member("candidates");
  writer.begin_array();
}

void write_report_closing(JsonStreamWriter& writer, const FilesystemReport& report) {
  writer.end_array();
  writer.member("warnings", string_array(report.warnings));
  writer.end_object();
}

}  // namespace kestrel
