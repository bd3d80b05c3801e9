// The carving pass over an area without a file system: the input's bytes are
// the area, searched at every 512-byte sector. Every candidate renders as
// JSON, lies inside the area (both pieces of a joined file too), and extracts
// into memory as exactly its size.
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/memory_output.hpp"
#include "recovery-core/carving/free_space_carving.hpp"
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
    require(candidate.pieces.size() == 2, "a carved file has at most two pieces");
    const kestrel::FilePiece& first = candidate.pieces[0];
    const kestrel::FilePiece& second = candidate.pieces[1];
    require(first.offset == candidate.data_offset && first.length < candidate.size &&
                inside(first.offset, first.length, size),
            "the first piece is in the area");
    require(second.offset >= first.offset + first.length &&
                second.length == candidate.size - first.length &&
                inside(second.offset, second.length, size),
            "the second piece follows the first, in the area");
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
