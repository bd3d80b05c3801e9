// The content date readers on damaged and hostile input: each gives nothing
// rather than failing, and a real date only when every field can be real.
#include "recovery-core/content/content_dates/content_dates.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recovery-core/content/content_dates/date_text.hpp"
#include "tests/support/fixtures.hpp"

namespace kestrel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class MemoryBytes final : public ContentBytes {
 public:
  explicit MemoryBytes(Bytes bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  std::expected<Bytes, RecoveryError> read(std::uint64_t position, std::size_t length) override {
    if (position >= bytes_.size()) return Bytes{};
    const std::size_t count = std::min<std::size_t>(
        {length, kMaxContentRead, static_cast<std::size_t>(bytes_.size() - position)});
    return Bytes(bytes_.begin() + static_cast<std::ptrdiff_t>(position),
                 bytes_.begin() + static_cast<std::ptrdiff_t>(position + count));
  }

 private:
  Bytes bytes_;
};

void put_u16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put_u32(Bytes& b, std::size_t at, std::uint32_t v) {
  put_u16(b, at, v & 0xFFFF);
  put_u16(b, at + 2, v >> 16);
}
void put_be(Bytes& b, std::size_t at, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
}

// A little-endian TIFF: IFD0 at 8 with the EXIF pointer, the EXIF directory
// at 26 with DateTimeOriginal (text at 56) and OffsetTimeOriginal (at 76).
struct ExifLayout {
  std::string date = "2024:05:03 14:22:10";
  std::string offset = "+09:00";
  std::uint32_t first_directory = 8;
  std::uint32_t exif_directory = 26;
  std::uint32_t date_at = 56;
  std::uint16_t exif_entries = 2;
};

Bytes exif_tiff(const ExifLayout& l) {
  Bytes b(96, 0);
  b[0] = b[1] = 'I';
  put_u16(b, 2, 42);
  put_u32(b, 4, l.first_directory);
  put_u16(b, 8, 1);
  put_u16(b, 10, 0x8769);
  put_u16(b, 12, 4);
  put_u32(b, 14, 1);
  put_u32(b, 18, l.exif_directory);
  put_u16(b, 26, l.exif_entries);
  const std::pair<std::uint16_t, std::uint32_t> ascii[] = {{0x9003, l.date_at}, {0x9011, 76}};
  for (std::size_t i = 0; i < 2; ++i) {
    const std::size_t at = 28 + i * 12;
    put_u16(b, at, ascii[i].first);
    put_u16(b, at + 2, 2);
    put_u32(b, at + 4, i == 0 ? 20 : 7);
    put_u32(b, at + 8, ascii[i].second);
  }
  std::copy(l.date.begin(), l.date.end(), b.begin() + 56);
  std::copy(l.offset.begin(), l.offset.end(), b.begin() + 76);
  return b;
}

std::optional<std::string> exif_modified(const ExifLayout& layout) {
  const auto dates = exif_dates(exif_tiff(layout));
  return dates ? dates->modified : std::nullopt;
}

TEST(ContentDates, ExifReadingsAndDamage) {
  struct Case {
    const char* what;
    ExifLayout layout;
    std::optional<std::string> modified;
  };
  const auto with = [](auto change) {
    ExifLayout l;
    change(l);
    return l;
  };
  const Case cases[] = {
      {"with its offset", {}, "2024-05-03T14:22:10+09:00"},
      {"no offset", with([](ExifLayout& l) { l.offset = "      "; }), "2024-05-03T14:22:10"},
      {"offset past 14 h", with([](ExifLayout& l) { l.offset = "+25:00"; }), "2024-05-03T14:22:10"},
      {"year 0", with([](ExifLayout& l) { l.date = "0000:05:03 14:22:10"; }), std::nullopt},
      {"unknown", with([](ExifLayout& l) { l.date = "    :  :     :  :  "; }), std::nullopt},
      {"30 February", with([](ExifLayout& l) { l.date = "2024:02:30 14:22:10"; }), std::nullopt},
      {"hour 24", with([](ExifLayout& l) { l.date = "2024:05:03 24:00:00"; }), std::nullopt},
      {"IFD0 outside", with([](ExifLayout& l) { l.first_directory = 0xFFFFFFF0; }), std::nullopt},
      {"EXIF outside", with([](ExifLayout& l) { l.exif_directory = 95; }), std::nullopt},
      {"text outside", with([](ExifLayout& l) { l.date_at = 0xFFFFFFFF; }), std::nullopt},
      {"count claims 65535", with([](ExifLayout& l) { l.exif_entries = 0xFFFF; }),
       "2024-05-03T14:22:10+09:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(exif_modified(c.layout), c.modified) << c.what;

  Bytes truncated = exif_tiff({});
  truncated.resize(60);  // the date's text runs past the end
  EXPECT_FALSE(exif_dates(truncated)) << "truncated";
  EXPECT_FALSE(exif_dates(Bytes{'I', 'I', 42})) << "header cut";
}

// ftyp, then moov holding mvhd with the given version and creation time.
Bytes movie(int version, std::uint64_t created, std::uint32_t moov_size = 0) {
  const std::size_t mvhd = version == 1 ? 8 + 4 + 16 : 8 + 4 + 8;
  Bytes b(16 + 8 + mvhd, 0);
  put_be(b, 0, 16, 4);
  std::copy_n("ftypisom", 8, b.begin() + 4);
  put_be(b, 16, moov_size != 0 ? moov_size : 8 + mvhd, 4);
  std::copy_n("moov", 4, b.begin() + 20);
  put_be(b, 24, mvhd, 4);
  std::copy_n("mvhd", 4, b.begin() + 28);
  b[32] = static_cast<std::uint8_t>(version);
  put_be(b, 36, created, version == 1 ? 8 : 4);
  return b;
}

std::optional<std::string> movie_modified(Bytes bytes) {
  MemoryBytes memory(std::move(bytes));
  const auto dates = iso_media_content_dates(memory);
  return dates ? dates->modified : std::nullopt;
}

TEST(ContentDates, MovieHeaderClock) {
  EXPECT_EQ(movie_modified(movie(0, 3'797'558'530)), "2024-05-03T05:22:10Z");
  EXPECT_EQ(movie_modified(movie(1, 3'797'558'530)), "2024-05-03T05:22:10Z");
  EXPECT_EQ(movie_modified(movie(0, 1)), "1904-01-01T00:00:01Z");
  EXPECT_EQ(movie_modified(movie(0, 0)), std::nullopt) << "no time recorded";
  EXPECT_EQ(movie_modified(movie(1, ~0ull)), std::nullopt) << "past year 9999";
  EXPECT_EQ(movie_modified(movie(2, 3'797'558'530)), std::nullopt) << "unknown version";
  EXPECT_EQ(movie_modified(movie(0, 3'797'558'530, 0xFFFFFFF0)), std::nullopt) << "moov too long";
  EXPECT_EQ(movie_modified(movie(0, 3'797'558'530, 4)), std::nullopt) << "moov shorter than header";
  Bytes cut = movie(0, 3'797'558'530);
  cut.resize(34);
  EXPECT_EQ(movie_modified(cut), std::nullopt) << "mvhd cut";
}

struct PdfDates {
  std::optional<std::string> modified;
  std::optional<std::string> created;
  friend bool operator==(const PdfDates&, const PdfDates&) = default;
};

PdfDates pdf(const std::string& text) {
  MemoryBytes memory(Bytes(text.begin(), text.end()));
  const auto dates = pdf_content_dates(memory);
  return dates ? PdfDates{dates->modified, dates->created} : PdfDates{};
}

std::string pdf_with(const std::string& info) {
  return "%PDF-1.4\n12 0 obj\n<</ModDate(D:19990101000000Z)>>\nendobj\n2 0 obj\n" + info +
         "\nendobj\ntrailer\n<< /Size 3 /Info 2 0 R >>\nstartxref\n0\n%%EOF\n";
}

TEST(ContentDates, PdfInfoDates) {
  struct Case {
    const char* info;
    PdfDates dates;
  };
  const Case cases[] = {
      {"<</CreationDate(D:20231120081500+09'00')/ModDate(D:20240503142210-03'30')>>",
       {"2024-05-03T14:22:10-03:30", "2023-11-20T08:15:00+09:00"}},
      {"<</ModDate (D:20240503142210Z00'00')>>", {"2024-05-03T14:22:10Z", {}}},
      {"<</ModDate(D:2024)/CreationDate(D:202405031422)>>", {"2024", "2024-05-03T14:22"}},
      {"<</ModDate(20240503142210+09)>>", {"2024-05-03T14:22:10+09:00", {}}},
      {"<</ModDate(D:00000101000000Z)>>", {}},
      {"<</ModDate(D:20241301000000Z)>>", {}},
      {"<</ModDate(D:2024050314221)>>", {}},
      {"<</ModDate(D:20240503142210 garbage)>>", {}},
      {"<</ModDate<443A32303234>>>", {}},
      {"<</ModDateX(D:20240503142210Z)>>", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(pdf(pdf_with(c.info)), c.dates) << c.info;

  EXPECT_EQ(pdf("%PDF-1.4\n\x01\x02 garbage /Info 9 0 R /Info"), PdfDates{}) << "no object";
  EXPECT_EQ(pdf("%PDF-1.4\n/Info 99999999999999 0 R 99999999999999 0 obj <</ModDate(D:2024)>>"),
            PdfDates{})
      << "numbers too long";
}

TEST(ContentDates, OfficeDocumentsDamaged) {
  const Bytes docx = load_fixture("carving/samples/document.docx");
  MemoryBytes whole(docx);
  ASSERT_TRUE(office_content_dates(whole).has_value());

  Bytes cut(docx.begin(), docx.begin() + static_cast<std::ptrdiff_t>(docx.size() / 2));
  MemoryBytes half(cut);
  EXPECT_FALSE(office_content_dates(half)) << "no end record";

  Bytes moved = docx;
  put_u32(moved, moved.size() - 22 + 16, 0xFFFFFF00);  // the directory's offset
  MemoryBytes elsewhere(moved);
  EXPECT_FALSE(office_content_dates(elsewhere)) << "directory outside";

  Bytes huge = docx;
  for (std::size_t at = 0; at + 4 <= huge.size(); ++at) {
    if (huge[at] == 'P' && huge[at + 1] == 'K' && huge[at + 2] == 1 && huge[at + 3] == 2)
      put_u32(huge, at + 24, 0xFFFFFFFF);  // every entry claims 4 GiB unpacked
  }
  MemoryBytes claims(huge);
  EXPECT_FALSE(office_content_dates(claims)) << "unpacked size claimed";
}

TEST(ContentDates, W3cDateTexts) {
  for (const char* good :
       {"2024", "2024-05", "2024-05-03", "2024-05-03T14:22Z", "2024-05-03T14:22:10Z",
        "2024-05-03T14:22:10.123456789+09:00", "2024-05-03T14:22:10-03:30", "2024-02-29T00:00:00"})
    EXPECT_TRUE(is_w3c_date_text(good)) << good;
  for (const char* bad : {"", "0000-01-01", "2023-02-29", "2024-5-3", "2024-05-03T24:00:00Z",
                          "2024-05-03T14:22:10+15:00", "2024-05-03T14:22:10.Z",
                          "2024-05-03 14:22:10", "2024-05-03T14", "2024-05-03T14:22:10Zjunk"})
    EXPECT_FALSE(is_w3c_date_text(bad)) << bad;
}

}  // namespace
}  // namespace kestrel::testing
