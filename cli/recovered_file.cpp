#include "cli/recovered_file.hpp"

#include "cli/destination_space.hpp"
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

std::expected<std::uint64_t, std::string> recover_to_file(DevicePlatform& platform,
                                                          ByteSource& source,
                                                          const RecoveryCandidate& candidate,
                                                          const std::filesystem::path& destination,
                                                          FileDurability durability,
                                                          const WrittenBytes& written_bytes) {
  auto file = FileOutput::create(destination, durability);
  if (!file) return std::unexpected(file.error().message());
  // A planning failure is left to the extraction, which meets it again and
  // reports it in its own order of checks.
  auto plan = plan_extraction(source, candidate);
  if (plan) {
    if (auto room = check_room_for(platform, destination, plan->length); !room)
      return std::unexpected(room.error());
  }
  CountedOutput counted(*file, written_bytes);
  ExtractionOutput& output = written_bytes ? static_cast<ExtractionOutput&>(counted) : *file;
  auto written = plan ? extract_candidate(source, candidate, *plan, output)
                      : extract_candidate(source, candidate, output);
  if (!written) return std::unexpected(written.error().message());
  return *written;
}

}  // namespace kestrel
