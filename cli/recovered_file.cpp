#include "cli/recovered_file.hpp"

#include "cli/destination_space.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/extraction/extraction.hpp"

namespace kestrel {

namespace {

// Passes each piece on to the file and, once it is written, tells its size.
class CountedOutput final : public ExtractionOutput {
 public:
  CountedOutput(ExtractionOutput& file, const WrittenBytes& written)
      : file_(file), written_(written) {}

  std::expected<void, RecoveryError> write(std::span<const std::uint8_t> bytes) override {
    auto written = file_.write(bytes);
    if (written) written_(bytes.size());
    return written;
  }
  std::expected<void, RecoveryError> finish() override { return file_.finish(); }

 private:
  ExtractionOutput& file_;
  const WrittenBytes& written_;
};

// Gives the file its times once the extraction has written its last byte,
// and remembers a failure instead of failing the file with it.
class DatedOutput final : public ExtractionOutput {
 public:
  DatedOutput(FileOutput& file, const FileTimes& times) : file_(file), times_(times) {}

  std::expected<void, RecoveryError> write(std::span<const std::uint8_t> bytes) override {
    return file_.write(bytes);
  }
  std::expected<void, RecoveryError> finish() override {
    if (!times_.empty()) {
      if (auto set = file_.set_times(times_); !set) times_not_set_ = set.error();
    }
    return file_.finish();
  }
  const std::optional<RecoveryError>& times_not_set() const { return times_not_set_; }

 private:
  FileOutput& file_;
  const FileTimes& times_;
  std::optional<RecoveryError> times_not_set_;
};

}  // namespace

std::expected<RecoveredFile, CommandError> recover_to_file(
    DevicePlatform& platform, ByteSource& source, const RecoveryCandidate& candidate,
    const std::filesystem::path& destination, FileDurability durability,
    const WrittenBytes& written_bytes, const FileTimes& times) {
  // A candidate that cannot be copied leaves no empty file behind.
  if (auto refused = extraction_refusal(candidate)) {
    return std::unexpected(CommandError(std::move(*refused)));
  }
  KESTREL_TRY_ASSIGN(file, FileOutput::create(destination, durability));
  // A planning failure is left to the extraction, which meets it again and
  // reports it in its own order of checks.
  auto plan = plan_extraction(source, candidate);
  if (plan) {
    KESTREL_TRY(check_room_for(platform, destination, plan->length));
  }
  DatedOutput dated(*file, times);
  CountedOutput counted(dated, written_bytes);
  ExtractionOutput& output = written_bytes ? static_cast<ExtractionOutput&>(counted) : dated;
  KESTREL_TRY_ASSIGN(written, plan ? extract_candidate(source, candidate, *plan, output)
                                   : extract_candidate(source, candidate, output));
  return RecoveredFile{*written, dated.times_not_set()};
}

}  // namespace kestrel
