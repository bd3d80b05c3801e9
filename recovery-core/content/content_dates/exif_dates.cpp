#include <string_view>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/content_dates/content_dates.hpp"
#include "recovery-core/content/content_dates/date_text.hpp"

namespace kestrel {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint16_t kDateTimeTag = 0x0132;
constexpr std::uint16_t kExifDirectoryTag = 0x8769;
constexpr std::uint16_t kDateTimeOriginalTag = 0x9003;
constexpr std::uint16_t kOffsetTimeTag = 0x9010;
constexpr std::uint16_t kOffsetTimeOriginalTag = 0x9011;
constexpr std::uint16_t kAsciiType = 2;
constexpr std::size_t kEntryBytes = 12;

// A TIFF structure read in its own byte order.
class TiffView {
 public:
  explicit TiffView(Bytes bytes) : bytes_(bytes), little_(holds_text(bytes, 0, "II")) {}

  bool has_byte_order() const { return little_ || holds_text(bytes_, 0, "MM"); }
  std::uint16_t u16(std::size_t at) const {
    return little_ ? load_le<std::uint16_t>(bytes_, at) : load_be<std::uint16_t>(bytes_, at);
  }
  std::uint32_t u32(std::size_t at) const {
    return little_ ? load_le<std::uint32_t>(bytes_, at) : load_be<std::uint32_t>(bytes_, at);
  }

  // The entry of `tag` in the directory at `offset`, by its position; nothing
  // when the directory does not fit or lacks the tag. Only the entries that
  // fit the bytes are looked at, whatever count the directory claims.
  std::optional<std::size_t> entry(std::uint32_t offset, std::uint16_t tag) const {
    if (offset < 8 || offset > bytes_.size() || bytes_.size() - offset < 2) return std::nullopt;
    const std::size_t fitting = (bytes_.size() - offset - 2) / kEntryBytes;
    const std::size_t count = std::min<std::size_t>(u16(offset), fitting);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = offset + 2 + i * kEntryBytes;
      if (u16(at) == tag) return at;
    }
    return std::nullopt;
  }

  // The text of an ASCII entry up to its first NUL; nothing for another type
  // or a value outside the bytes.
  std::optional<std::string_view> ascii(std::size_t entry_at) const {
    if (u16(entry_at + 2) != kAsciiType) return std::nullopt;
    const std::uint32_t count = u32(entry_at + 4);
    const std::size_t value_at = count <= 4 ? entry_at + 8 : u32(entry_at + 8);
    if (value_at > bytes_.size() || bytes_.size() - value_at < count) return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(bytes_.data() + value_at), count);
    return text.substr(0, text.find('\0'));
  }

  std::optional<std::string_view> ascii_of(std::uint32_t directory, std::uint16_t tag) const {
    const std::optional<std::size_t> at = entry(directory, tag);
    return at ? ascii(*at) : std::nullopt;
  }

 private:
  Bytes bytes_;
  bool little_;
};

int two_digits(std::string_view text, std::size_t at) {
  const char a = text[at];
  const char b = text[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
  return (a - '0') * 10 + (b - '0');
}

// "+09:00" or "-03:30", as EXIF writes an offset; nothing for anything else
// (blanks, which EXIF uses for unknown).
std::optional<DateZone> exif_offset(std::optional<std::string_view> text) {
  if (!text || text->size() != 6 || ((*text)[0] != '+' && (*text)[0] != '-') || (*text)[3] != ':')
    return std::nullopt;
  const int hours = two_digits(*text, 1);
  const int minutes = two_digits(*text, 4);
  if (hours < 0 || minutes < 0 || minutes > 59) return std::nullopt;
  const int sign = (*text)[0] == '-' ? -1 : 1;
  return DateZone{DateZone::Mark::Offset, sign * (hours * 60 + minutes)};
}

// "2024:05:03 14:22:10" with its offset when there is one; nothing for a
// reading that cannot be real (all blanks or zeros, as EXIF writes unknown).
std::optional<std::string> exif_date_text(std::optional<std::string_view> text,
                                          std::optional<std::string_view> offset) {
  if (!text || text->size() != 19) return std::nullopt;
  const std::string_view t = *text;
  if (t[4] != ':' || t[7] != ':' || t[10] != ' ' || t[13] != ':' || t[16] != ':')
    return std::nullopt;
  const int century = two_digits(t, 0);
  const int year = two_digits(t, 2);
  if (century < 0 || year < 0) return std::nullopt;
  const CalendarTime time{century * 100 + year, two_digits(t, 5),  two_digits(t, 8),
                          two_digits(t, 11),    two_digits(t, 14), two_digits(t, 17)};
  const std::optional<DateZone> zone = exif_offset(offset);
  // An offset that cannot be real leaves the reading local rather than lost.
  if (zone) {
    if (auto zoned = reading_text(time, DateFields::Second, *zone)) return zoned;
  }
  return reading_text(time, DateFields::Second, DateZone{});
}

}  // namespace

std::optional<ContentDates> exif_dates(std::span<const std::uint8_t> tiff) {
  const TiffView view(tiff);
  if (!view.has_byte_order()) return std::nullopt;
  const std::uint32_t first = view.u32(4);
  std::optional<std::uint32_t> exif;
  if (const auto at = view.entry(first, kExifDirectoryTag)) exif = view.u32(*at + 8);
  if (exif) {
    auto original = exif_date_text(view.ascii_of(*exif, kDateTimeOriginalTag),
                                   view.ascii_of(*exif, kOffsetTimeOriginalTag));
    if (original) return ContentDates{std::move(original), {}, DateSource::ExifDateTimeOriginal};
  }
  auto changed = exif_date_text(view.ascii_of(first, kDateTimeTag),
                                exif ? view.ascii_of(*exif, kOffsetTimeTag) : std::nullopt);
  if (changed) return ContentDates{std::move(changed), {}, DateSource::ExifDateTime};
  return std::nullopt;
}

// A TIFF file or a raw built on TIFF keeps its first directories near its
// start; those past the first mebibyte are not looked for.
std::optional<ContentDates> tiff_content_dates(ContentBytes& bytes) {
  const auto head = bytes.read(0, ContentBytes::kMaxContentRead);
  if (!head) return std::nullopt;
  return exif_dates(*head);
}

}  // namespace kestrel
