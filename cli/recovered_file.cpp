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

}  // namespace

std::expected<std::uint64_t, CommandError> recover_to_file(DevicePlatform& platform,
                                                           ByteSource& source,
                                                           const RecoveryCandidate& candidate,
                                                           const std::filesystem::path& destination,
                                                           FileDurability durability,
                                                           const WrittenBytes& written_bytes) {
  KESTREL_TRY_ASSIGN(file, FileOutput::create(destination, durability));
  // A planning failure is left to the extraction, which meets it again and
  // reports it in its own order of checks.
  auto plan = plan_extraction(source, candidate);
  if (plan) {
    KESTREL_TRY(check_room_for(platform, destination, plan->length));
  }
  CountedOutput counted(*file, written_bytes);
  ExtractionOutput& output = written_bytes ? static_cast<ExtractionOutput&>(counted) : *file;
  KESTREL_TRY_ASSIGN(written, plan ? extract_candidate(source, candidate, *plan, output)
                                   : extract_candidate(source, candidate, output));
  return *written;
}

}  // namespace kestrel
