#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <vector>

#include "recovery-core/carving/continuation_search.hpp"
#include "recovery-core/carving/piece_search_state.hpp"
#include "recovery-core/content/file_end/jpeg_scan_check.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// A JPEG that broke off where the gap after its piece holds nothing the
// search can step over. Its data is decoded once up to where it broke,
// keeping the decoder's state at the last unit starts on the way (the piece
// ends at one of them); each unit start up to 4 MiB on whose bytes can be
// entropy-coded data is then a candidate next piece, tried first by decoding
// on from those states over its first bytes alone, and taken only when the
// joined file decodes whole and its end rule checks it to EOI. A next piece
// whose data decodes on well past its start and then breaks off too (data
// with restart markers only) is followed by another, up to kMaxCarvedPieces.
class JpegContinuationSearch final : public ContinuationSearch {
 public:
  explicit JpegContinuationSearch(PieceSearchState& state) : ContinuationSearch(state) {}

  std::expected<std::optional<PiecedFile>, RecoveryError> complete(
      std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
      std::optional<std::uint64_t> length) override;

 private:
  // A piece's bytes from where its decoder state was kept up to the join
  // point `at`.
  struct JoinTail {
    std::uint64_t at = 0;
    std::vector<std::uint8_t> bytes;
  };
  std::expected<std::optional<PiecedFile>, RecoveryError> next_jpeg_piece(
      const JpegScanResume& decoded, const PieceJoins& joins, std::uint64_t start,
      std::uint64_t limit, std::optional<std::uint64_t> length, int decode_limit);
  std::expected<std::optional<PiecedFile>, RecoveryError> try_any_gap_continuation(
      const JpegScanResume& decoded, const std::vector<JoinTail>& tails, const PieceJoins& joins,
      std::uint64_t start, std::uint64_t limit, std::uint64_t next,
      std::optional<std::uint64_t> length, int decode_limit);

  int any_gap_decodes_ = 0;  // joined files decoded to the end in this area
};

// A JPEG of a known size (its directory entry says so) whose data does not
// decode: the rest may lie past a gap that holds no file (a folder's cluster,
// a text). Its EOI then lies as far past where the size puts it as the gap is
// long; each such place, up to 4 MiB on, fixes the gap, and the join is tried
// at the unit starts just before the place the data stopped decoding.
class JpegAcrossGap {
 public:
  explicit JpegAcrossGap(PieceSearchState& state) : state_(state) {}

  std::expected<std::optional<PiecedFile>, RecoveryError> complete(std::uint64_t start,
                                                                   std::uint64_t limit,
                                                                   std::uint64_t size);

 private:
  std::expected<std::optional<PiecedFile>, RecoveryError> join_across(std::uint64_t start,
                                                                      std::uint64_t limit,
                                                                      std::uint64_t size,
                                                                      std::uint64_t gap,
                                                                      std::uint64_t stopped_at);
  std::uint32_t unit() const { return state_.grid().unit; }

  PieceSearchState& state_;
};

}  // namespace kestrel
