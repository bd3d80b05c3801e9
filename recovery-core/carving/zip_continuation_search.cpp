#include "recovery-core/carving/zip_continuation_search.hpp"

#include <algorithm>

#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// How far past the break the package's end records are looked for.
constexpr std::uint64_t kZipTailSearchBytes = 16u << 20;
// The most end records taken past a package's break, and the joins tried for
// each (the unit starts before the break, each checked by reading the member
// the join cuts).
constexpr std::size_t kMaxZipTails = 4;
constexpr int kMaxZipJoins = 64;

}  // namespace

std::expected<std::optional<PiecedFile>, RecoveryError> ZipContinuationSearch::complete(
    std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at,
    std::optional<std::uint64_t> length) {
  if (unit() == 0 || state_.any_gap_spent() || broken_at > limit - start)
    return std::optional<PiecedFile>{};
  const std::uint64_t from = start + broken_at;
  KESTREL_TRY_ASSIGN(
      tails, find_zip_tails(state_.reader(), from, std::min(limit, from + kZipTailSearchBytes), kMaxZipTails));
  for (const ZipTail& tail : *tails) {
    if (tail.position < start + tail.record_offset()) continue;
    const std::uint64_t gap = tail.position - start - tail.record_offset();
    if (gap < unit() || gap % unit() != 0) continue;
    auto joined = join_zip_across(start, limit, broken_at, tail, gap, length);
    if (!joined || *joined) return joined;
  }
  return std::optional<PiecedFile>{};
}


// Tries the joins of a ZIP package whose second piece lies `gap` bytes past
// its first, at the unit starts up to just after where it broke off, latest
// first.
std::expected<std::optional<PiecedFile>, RecoveryError> ZipContinuationSearch::join_zip_across(
    std::uint64_t start, std::uint64_t limit, std::uint64_t broken_at, const ZipTail& tail,
    std::uint64_t gap, std::optional<std::uint64_t> length) {
  int tries = 0;
  // The structure may break off just before the join too (in a record the
  // join cuts): the unit start after the break is the first tried.
  for (std::uint64_t first = (broken_at + unit() - 1) / unit() * unit();
       first >= unit() && tries < kMaxZipJoins && !state_.any_gap_spent();
       first -= unit(), ++tries) {
    const TwoPieces pieces{first, start + first + gap};
    if (pieces.second_offset >= limit || state_.handed_out(pieces.second_offset)) continue;
    FileArea joined(state_.reader(), start, limit, state_.grid(), pieces);
    KESTREL_TRY_ASSIGN(holds, zip_join_holds(joined, tail, first));
    if (!*holds) continue;
    auto file = state_.check_joined(FileFamily::Zip, start, limit, joins_of(pieces), length);
    if (!file || *file) return file;
  }
  return std::optional<PiecedFile>{};
}


}  // namespace kestrel
