#include "recovery-core/carving/format_joins.hpp"

#include <algorithm>
#include <array>

#include "recovery-core/carving/jpeg_continuation_search.hpp"
#include "recovery-core/carving/movie_continuation_search.hpp"
#include "recovery-core/carving/png_continuation_search.hpp"
#include "recovery-core/carving/zip_continuation_search.hpp"
#include "recovery-core/content/file_end/jpeg_scan_check.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// Markers alone would pass the middle of any other JPEG's data: a joined
// JPEG's data must decode to exactly the frame's blocks.
std::expected<bool, RecoveryError> decodes_whole(FileArea& whole) {
  KESTREL_TRY_ASSIGN(scan, check_jpeg_scan(whole));
  return *scan == JpegScanCheck::Whole;
}

template <typename Search>
std::unique_ptr<ContinuationSearch> make(PieceSearchState& state) {
  return std::make_unique<Search>(state);
}

struct FormatJoinRule {
  FileFamily family;
  // What a join must satisfy beyond the end rule; nothing more when null.
  std::expected<bool, RecoveryError> (*holds)(FileArea& whole);
  // The search across any gap; none when null.
  std::unique_ptr<ContinuationSearch> (*search)(PieceSearchState& state);
};

// The formats whose end rule checks a join (a RIFF file's chunk sizes place
// the next chunk, but nothing says where its data would go on).
constexpr std::array kRules{
    FormatJoinRule{FileFamily::Jpeg, decodes_whole, make<JpegContinuationSearch>},
    FormatJoinRule{FileFamily::Png, nullptr, make<PngContinuationSearch>},
    FormatJoinRule{FileFamily::Zip, nullptr, make<ZipContinuationSearch>},
    FormatJoinRule{FileFamily::IsoMedia, nullptr, make<MovieContinuationSearch>},
    FormatJoinRule{FileFamily::Riff, nullptr, nullptr},
};

const FormatJoinRule* rule_of(FileFamily family) {
  const auto* rule = std::find_if(kRules.begin(), kRules.end(),
                                  [&](const FormatJoinRule& r) { return r.family == family; });
  return rule == kRules.end() ? nullptr : rule;
}

}  // namespace

bool end_rule_checks_join(FileFamily family) { return rule_of(family) != nullptr; }

std::expected<bool, RecoveryError> joined_file_holds(FileFamily family, FileArea& whole) {
  const FormatJoinRule* rule = rule_of(family);
  if (rule == nullptr || rule->holds == nullptr) return true;
  return rule->holds(whole);
}

std::unique_ptr<ContinuationSearch> continuation_search_for(FileFamily family,
                                                            PieceSearchState& state) {
  const FormatJoinRule* rule = rule_of(family);
  if (rule == nullptr || rule->search == nullptr) return nullptr;
  return rule->search(state);
}

}  // namespace kestrel
