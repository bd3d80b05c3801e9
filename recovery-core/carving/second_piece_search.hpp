#pragma once

#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "recovery-core/carving/continuation_search.hpp"
#include "recovery-core/carving/format_joins.hpp"
#include "recovery-core/carving/piece_search_state.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/content/file_end/file_end.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// Looks for the later pieces of a file whose structure broke off part-way.
//
// A card is written front to back, so a file that did not fit in a hole runs
// on after the files that followed the hole: the first piece ends where the
// first of those files begins, at a unit start holding its header (or, for a
// JPEG, a unit of text). The search finds that unit, steps over the whole
// files there (each measured by its own end rule) and units of text, and
// tries the few unit starts right after them as the second piece. A
// candidate is taken only when the family's end rule, run over both pieces
// joined, follows the structure past the join to a checked end.
//
// When that finds nothing, the format's own search across any gap takes over
// (format_joins.hpp says which formats have one). All searches of an area
// read through one reader of their own and share one budget of bytes read:
// once spent, files are left as they broke off.
class SecondPieceSearch {
 public:
  // `clusters`: the units are the volume's clusters (else sectors of an area
  // whose cluster size is not known).
  SecondPieceSearch(ByteSource& source, UnitGrid grid, bool clusters, std::uint64_t budget_bytes);
  SecondPieceSearch(const SecondPieceSearch&) = delete;
  SecondPieceSearch& operator=(const SecondPieceSearch&) = delete;
  ~SecondPieceSearch();

  // The file of `family` at `start`, whose end rule gave `broken` (its
  // structure broke off), in the run of bytes that ends at `limit`; with
  // `length`, only a file of exactly that many bytes.
  std::expected<std::optional<PiecedFile>, RecoveryError> complete(
      FileFamily family, std::uint64_t start, std::uint64_t limit, const FileEnd& broken,
      std::optional<std::uint64_t> length = {});

  // A file of `family` and of `size` bytes (its directory entry says so) at
  // `start` whose structure does not hold, completed across a gap that holds
  // no file, for the formats that have such a search (format_joins.hpp).
  std::expected<std::optional<PiecedFile>, RecoveryError> complete_known_size(FileFamily family,
                                                                              std::uint64_t start,
                                                                              std::uint64_t limit,
                                                                              std::uint64_t size);

 private:
  std::expected<std::optional<PiecedFile>, RecoveryError> complete_past_files(
      FileFamily family, std::uint64_t start, std::uint64_t limit, const FileEnd& broken,
      std::optional<std::uint64_t> length);
  std::expected<std::optional<std::uint64_t>, RecoveryError> first_header_unit(
      std::uint64_t start, std::uint64_t confirmed_end, std::uint64_t limit, FirstPieceEnd search);
  std::expected<bool, RecoveryError> holds_text_unit(std::uint64_t position, std::uint64_t limit);
  std::expected<std::uint64_t, RecoveryError> past_whole_files(std::uint64_t start,
                                                               std::uint64_t from,
                                                               std::uint64_t limit);
  std::expected<std::uint64_t, RecoveryError> next_file_start(std::uint64_t start,
                                                              std::uint64_t end,
                                                              std::uint64_t cluster,
                                                              std::uint64_t limit);
  std::uint64_t largest_cluster(std::uint64_t length) const;
  std::vector<std::uint64_t> tries(std::uint64_t start, std::uint64_t gap_end,
                                   std::uint64_t limit) const;
  // The family's search across any gap, made the first time it is needed and
  // kept for the area (null for a family that has none).
  ContinuationSearch* continuation_search(FileFamily family);
  std::uint32_t unit() const { return state_.grid().unit; }

  PieceSearchState state_;
  std::map<FileFamily, std::unique_ptr<ContinuationSearch>> continuations_;
};

}  // namespace kestrel
