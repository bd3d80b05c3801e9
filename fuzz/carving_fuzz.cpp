// The carving pass over an area without a file system: the input's bytes are
// the area, searched at every 512-byte sector. Every candidate renders as
// JSON, lies inside the area (every piece of a joined file too, each after
// the one before), and extracts
// into memory as exactly its size.
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/memory_output.hpp"
#include "recovery-core/carving/free_space_carving.hpp"
#include "recovery-core/content/file_end/piece_joins.hpp"
#include "recovery-core/extraction/extraction.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "tests/support/memory_source.hpp"

namespace {

bool inside(std::uint64_t offset, std::uint64_t length, std::uint64_t area) {
  return offset <= area && length <= area - offset;
}

void check_candidate(kestrel::ByteSource& area, const kestrel::RecoveryCandidate& candidate) {
  using kestrel::fuzzing::require;
  require(kestrel::render_json(kestrel::to_json(candidate)).has_value(),
          "a candidate renders as JSON");
  const std::uint64_t size = area.capacity();
  if (!candidate.pieces.empty()) {
    require(candidate.pieces.size() >= 2 && candidate.pieces.size() <= kestrel::kMaxCarvedPieces,
            "a carved file in pieces has two up to the most pieces");
    require(candidate.pieces.front().offset == candidate.data_offset,
            "the first piece starts at the file's data");
    std::uint64_t total = 0;
    std::uint64_t after = 0;
    for (const kestrel::FilePiece& piece : candidate.pieces) {
      require(piece.length > 0 && piece.offset >= after && inside(piece.offset, piece.length, size),
              "each piece follows the one before, in the area");
      after = piece.offset + piece.length;
      total += piece.length;
    }
    require(total == candidate.size, "the pieces hold the whole file");
  } else {
    require(inside(candidate.data_offset, candidate.size, size), "a carved file is in the area");
  }
  const auto plan = kestrel::plan_extraction(area, candidate);
  require(plan.has_value() && plan->length == candidate.size, "the whole file is planned");
  kestrel::fuzzing::MemoryOutput output(plan->length);
  const auto written = kestrel::extract_candidate(area, candidate, *plan, output);
  require(written.has_value() && *written == candidate.size, "a carved file extracts as its size");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kestrel::testing::MemorySource area(std::vector<std::uint8_t>(data, data + size));
  std::vector<kestrel::RecoveryCandidate> found;
  kestrel::CandidateCollector sink(found);
  const auto carved =
      kestrel::carve_whole_area(area, 0, 0, area.capacity(), 512, sink, [](std::string_view) {});
  if (!carved) return 0;
  for (const kestrel::RecoveryCandidate& candidate : found) check_candidate(area, candidate);
  return 0;
}
