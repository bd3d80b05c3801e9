#include "fuzz/volume_scan_harness.hpp"

#include <algorithm>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/memory_output.hpp"
#include "fuzz/sparse_image_input.hpp"
#include "recovery-core/extraction/extraction.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/scan/medium_layout.hpp"
#include "recovery-core/scan/scan_filesystems.hpp"

namespace kestrel::fuzzing {

namespace {

constexpr std::uint64_t kDestinationRoom = 1u << 20;
// Carving reads the whole image, as it must; an input may claim an image of
// any size, so only images up to this size are carved.
constexpr std::uint64_t kLargestCarvedImage = 64u << 20;

// As the recover command does: the planned length checked against the room of
// the destination first.
void extract_into_memory(ByteSource& image, const RecoveryCandidate& candidate) {
  const auto plan = plan_extraction(image, candidate);
  if (!plan || plan->length > kDestinationRoom) return;
  MemoryOutput output(plan->length);
  const auto written = extract_candidate(image, candidate, *plan, output);
  if (!written) return;
  require(*written == candidate.size, "a recovered file has the candidate's size");
  require(output.bytes().size() == candidate.size && output.finished(),
          "every byte reached the output");
}

}  // namespace

void scan_and_extract(std::span<const std::uint8_t> input, std::span<const FilesystemKind> kinds) {
  const unsigned options = sparse_image_options(input);
  const std::uint32_t sector_size = (options & 2u) != 0 ? 4096 : 512;
  auto image = sparse_image_from_input(input, sector_size);
  if (!image) return;
  const auto table = detect_medium_layout(*image, image->capacity(), sector_size);
  if (!table) return;
  ScanOptions scan_options;
  scan_options.all_directories = (options & 1u) != 0;
  scan_options.carve = (options & 4u) != 0 && image->capacity() <= kLargestCarvedImage;
  scan_options.untangle = (options & 8u) != 0;
  const auto reports = scan_filesystems(*image, image->capacity(), *table, scan_options);
  if (!reports) return;
  const auto member =
      scan_options.all_directories ? DirectoryMember::Written : DirectoryMember::Omitted;
  for (const FilesystemReport& report : *reports) {
    require(render_json(to_json(report, member)).has_value(), "a report renders as JSON");
    if (std::ranges::find(kinds, report.kind) == kinds.end()) continue;
    for (const RecoveryCandidate& candidate : report.candidates)
      extract_into_memory(*image, candidate);
  }
}

}  // namespace kestrel::fuzzing
