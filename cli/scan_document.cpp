#include "cli/scan_document.hpp"

#include "recovery-core/json/json_layout.hpp"

namespace kestrel {

ScanDocumentWriter::ScanDocumentWriter(JsonTextOutput& output, const ImageInspection& inspection)
    : writer_(output),
      directory_(inspection.options.all_directories ? DirectoryMember::Written
                                                    : DirectoryMember::Omitted),
      dates_(inspection.options.timestamps ? DatesMember::Written : DatesMember::Omitted) {
  writer_.begin_object();
  writer_.member("image", inspection.image);
  writer_.member("capacity_bytes", inspection.capacity_bytes);
  writer_.member("partition_table", to_json(inspection.partition_table));
  writer_.member("filesystems");
  writer_.begin_array();
}

void ScanDocumentWriter::begin_report(const FilesystemReport& report) {
  write_report_opening(writer_, report);
}

SinkReply ScanDocumentWriter::accept(RecoveryCandidate candidate) {
  writer_.value(to_json(candidate, directory_, dates_));
  return writer_.failed() ? SinkReply::Stop : SinkReply::Continue;
}

void ScanDocumentWriter::end_report(const FilesystemReport& report) {
  write_report_closing(writer_, report);
}

void ScanDocumentWriter::finish() {
  writer_.end_array();
  writer_.end_object();
  writer_.finish();
}

}  // namespace kestrel
