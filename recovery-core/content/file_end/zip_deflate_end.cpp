#include "recovery-core/content/file_end/zip_deflate_end.hpp"

#include <zlib.h>

#include <array>
#include <optional>
#include <span>

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

// A raw deflate stream fed piece by piece, its output counted and checked
// but not kept.
class Inflation {
 public:
  Inflation() { ready_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
  Inflation(const Inflation&) = delete;
  Inflation& operator=(const Inflation&) = delete;
  ~Inflation() {
    if (ready_) inflateEnd(&stream_);
  }

  bool ready() const { return ready_; }

  // Inflates `input`; how many of its bytes the stream took, up to where it
  // ended or failed.
  std::size_t feed(std::span<const std::uint8_t> input) {
    stream_.next_in = const_cast<Bytef*>(input.data());  // zlib's interface is not const
    stream_.avail_in = static_cast<uInt>(input.size());
    while (stream_.avail_in > 0 && status_ == Z_OK) {
      stream_.next_out = out_.data();
      stream_.avail_out = static_cast<uInt>(out_.size());
      status_ = inflate(&stream_, Z_NO_FLUSH);
      const std::size_t made = out_.size() - stream_.avail_out;
      produced_ += made;
      crc_ = crc32(crc_, out_.data(), static_cast<uInt>(made));
      if (produced_ > kMaxInflatedBytes ||
          (produced_ > kRatioFreeBytes && produced_ / kMaxExpansion > stream_.total_in)) {
        over_bound_ = true;
      }
      if (over_bound_) break;
    }
    return input.size() - stream_.avail_in;
  }

  bool ended() const { return status_ == Z_STREAM_END; }
  bool failed() const { return status_ != Z_OK && status_ != Z_STREAM_END; }
  bool over_bound() const { return over_bound_; }
  std::uint32_t crc() const { return static_cast<std::uint32_t>(crc_); }
  std::uint64_t produced() const { return produced_; }

 private:
  z_stream stream_{};
  bool ready_ = false;
  int status_ = Z_OK;
  bool over_bound_ = false;
  uLong crc_ = crc32(0L, Z_NULL, 0);
  std::uint64_t produced_ = 0;
  std::array<std::uint8_t, 32u << 10> out_{};
};

}  // namespace

std::expected<DeflateEnd, RecoveryError> find_deflate_end(FileArea& area, std::uint64_t from) {
  Inflation inflation;
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
