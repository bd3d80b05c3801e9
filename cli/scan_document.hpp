#pragma once

#include "cli/image_inspection.hpp"
#include "recovery-core/json/json_stream_writer.hpp"
#include "recovery-core/scan/report_sink.hpp"

namespace kestrel {

// Writes the scan document as the scan goes: "image", "capacity_bytes" and
// "partition_table" at once, then each report and its candidates as they come
// (a candidate ends with "directory" when every folder is walked, then with
// its dates when they are asked for). finish()
// closes the document after a scan that ended well.
class ScanDocumentWriter final : public ReportSink {
 public:
  ScanDocumentWriter(JsonTextOutput& output, const ImageInspection& inspection);

  void begin_report(const FilesystemReport& report) override;
  SinkReply accept(RecoveryCandidate candidate) override;
  void end_report(const FilesystemReport& report) override;
  void finish();

 private:
  JsonStreamWriter writer_;
  DirectoryMember directory_;
  DatesMember dates_;
};

}  // namespace kestrel
