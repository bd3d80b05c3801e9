#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/scan/report_sink.hpp"

namespace kestrel {

// Selects candidates by the start of their name, compared in full Unicode
// upper case ("ß" matches "SS"). Without a prefix, or with an empty one, every
// candidate is selected.
class NamePrefixFilter {
 public:
  explicit NamePrefixFilter(const std::optional<std::string>& prefix);
  bool selects(const RecoveryCandidate& candidate) const;

 private:
  std::optional<std::string> upper_prefix_;
};

// Keeps the first candidate, over the reports in order, whose id equals `id`
// byte for byte, and stops the scan there.
class CandidateFinder final : public ReportSink {
 public:
  explicit CandidateFinder(std::string id) : id_(std::move(id)) {}

  void begin_report(const FilesystemReport&) override {}
  SinkReply accept(RecoveryCandidate candidate) override;
  void end_report(const FilesystemReport&) override {}

  const std::optional<RecoveryCandidate>& found() const { return found_; }

 private:
  std::string id_;
  std::optional<RecoveryCandidate> found_;
};

}  // namespace kestrel
