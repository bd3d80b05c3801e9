#pragma once

#include <cstdint>
#include <expected>
#include <optional>

#include "recovery-core/carving/piece_search_state.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// How far past a piece the next one is looked for across any gap, where every
// unit start is looked at (so the search reads all of it).
inline constexpr std::uint64_t kAnyGapSearchBytes = 4u << 20;

// How a file of one format that broke off is followed to its next piece when
// the gap after its first piece holds nothing the search can step over
// (bytes of no known format, zeros, another file's middle): each format has
// its own way of telling where the next piece must lie and what proves it.
// One lives as long as its area, so that budgets kept per area hold.
class ContinuationSearch {
 public:
  ContinuationSearch(const ContinuationSearch&) = delete;
  ContinuationSearch& operator=(const ContinuationSearch&) = delete;
  virtual ~ContinuationSearch() = default;

  // The file at `start` whose structure broke off at `broken_at` (from its
  // first byte), in the run of bytes that ends at `limit`; with `length`,
  // only a file of exactly that many bytes.
  virtual std::expected<std::optional<PiecedFile>, RecoveryError> complete(
      std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
      std::optional<std::uint64_t> length) = 0;

 protected:
  explicit ContinuationSearch(PieceSearchState& state) : state_(state) {}
  std::uint32_t unit() const { return state_.grid().unit; }

  PieceSearchState& state_;
};

}  // namespace kestrel
