#include "recovery-core/content/file_end/zip_deflate_end.hpp"

#include <optional>
#include <span>

#include "recovery-core/content/file_end/raw_inflation.hpp"
#include "recovery-core/content/file_end/text_unit.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

// The most bytes inflated from one member, and past its first MiB, the most
// per byte taken in: a crafted stream expands up to a thousandfold, and the
// end of one that runs past either is looked for by its descriptor's size.
constexpr std::uint64_t kMaxInflatedBytes = 64u << 20;
constexpr std::uint64_t kRatioFreeBytes = 1u << 20;
constexpr std::uint64_t kMaxExpansion = 256;

// The first whole unit of zeros in `data` (at `position`), if any.
std::optional<std::uint64_t> zero_unit(const FileArea& area, std::uint64_t position,
                                       std::span<const std::uint8_t> data) {
  const std::uint64_t unit = area.unit();
  if (unit == 0) return std::nullopt;
  for (std::uint64_t at = area.unit_start_from(position); at + unit <= position + data.size();
       at += unit) {
    const auto bytes =
        data.subspan(static_cast<std::size_t>(at - position), static_cast<std::size_t>(unit));
    if (holds_only_zeros(bytes)) return at;  // stops at the first byte that is not zero
  }
  return std::nullopt;
}

}  // namespace

std::expected<DeflateEnd, RecoveryError> find_deflate_end(FileArea& area, std::uint64_t from) {
  RawInflation inflation({kMaxInflatedBytes, kRatioFreeBytes, kMaxExpansion});
  if (!inflation.ready()) return DeflateEnd{DeflateEnd::Stop::Unended, from};
  std::optional<DeflateEnd> end;
  KESTREL_TRY_ASSIGN(
      stop, area.walk(from, area.size(),
                      [&](std::uint64_t position,
                          std::span<const std::uint8_t> piece) -> std::optional<std::uint64_t> {
                        const std::optional<std::uint64_t> zeros = zero_unit(area, position, piece);
                        const auto usable =
                            zeros ? static_cast<std::size_t>(*zeros - position) : piece.size();
                        const std::uint64_t at = position + inflation.feed(piece.first(usable));
                        if (inflation.ended()) {
                          end = DeflateEnd{DeflateEnd::Stop::Ended, at, inflation.crc(),
                                           inflation.produced()};
                        } else if (inflation.over_bound()) {
                          end = DeflateEnd{DeflateEnd::Stop::Bounded, at};
                        } else if (inflation.failed()) {
                          end = DeflateEnd{DeflateEnd::Stop::Broken, at};
                        } else if (zeros) {
                          end = DeflateEnd{DeflateEnd::Stop::Zeros, at};
                        }
                        return end ? std::optional<std::uint64_t>{at} : std::nullopt;
                      }));
  if (end) return *end;
  // Another file's header at a unit start ended the walk: the data went on
  // into that file, so the member broke off before it.
  if (stop->clipped) return DeflateEnd{DeflateEnd::Stop::Broken, stop->position};
  return DeflateEnd{DeflateEnd::Stop::Unended, stop->position};
}

}  // namespace kestrel
