#pragma once

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/candidates/scan_report.hpp"

namespace kestrel {

// Where a scan hands its file-system reports as it makes them, so that no
// report need hold its candidates: for each partition, begin_report with every
// member of the report but its candidates, then the candidates one by one
// (CandidateSink::accept), then end_report with the report as the volume
// describes itself after its walk (warnings may have joined). A Stop from
// accept ends the whole scan at once; end_report is still called for the
// report under way.
class ReportSink : public CandidateSink {
 public:
  virtual void begin_report(const FilesystemReport& report) = 0;
  virtual void end_report(const FilesystemReport& report) = 0;
};

}  // namespace kestrel
